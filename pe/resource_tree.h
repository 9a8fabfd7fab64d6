// The resource directory: three levels of tables (type, name, language) over the data.
#ifndef VORPANEX_PE_RESOURCE_TREE_H
#define VORPANEX_PE_RESOURCE_TREE_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "pe/resources.h"

// The resources of the section at file offset base, size bytes present in the file,
// loaded at RVA address, appended to resources in directory order. False with the reason
// when the directory is damaged.
bool ReadResourceTree(const std::vector<uint8_t>& image, size_t base, size_t size,
                      uint32_t address, std::vector<Resource>& resources, std::string& error);

// The section's bytes for resources placed at RVA address.
std::vector<uint8_t> BuildResourceSection(const std::vector<Resource>& resources,
                                          uint32_t address);

#endif
