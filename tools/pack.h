// Member-name handling of the pack verb: conversion from UTF-8 to the archive's code
// page and the case folding by which names must be unique.
#ifndef VORPANEX_TOOLS_PACK_H
#define VORPANEX_TOOLS_PACK_H

#include <string>

// Converts a UTF-8 file name to the code page (0: plain ASCII only; 932; 1252).
// Returns false with a reason in error when that cannot be done.
bool ConvertMemberName(const std::string& utf8, unsigned codePage, std::string& name,
                       std::string& error);

// The name as Windows compares names: letters of the code page folded to upper case.
std::string FoldMemberName(const std::string& name, unsigned codePage);

#endif
