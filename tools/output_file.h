// The file that pack writes: OUT resolved through symbolic links to the file they
// name, written as a temporary file beside it that replaces it only on Commit and
// removes itself otherwise (also on Ctrl-C). "-" is standard output.
#ifndef VORPANEX_TOOLS_OUTPUT_FILE_H
#define VORPANEX_TOOLS_OUTPUT_FILE_H

#include <stddef.h>

#include <string>

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Refuses a device, folder or other non-regular file, and a terminal for "-".
    // A new OUT gets 0777 (executable: a setup) or 0666 less the umask, an existing
    // one keeps its mode. "" or an error text naming OUT.
    std::string Open(const std::string& out, bool executable = true);
    bool Write(const void* data, size_t size);
    // Renames the temporary file over the target; "" or an error text.
    std::string Commit();
    // The error of the last failed Write, naming OUT.
    std::string WriteError() const;

    // The file that will be replaced (the link's target when OUT is a link).
    const std::string& Target() const { return target; }

private:
    void Abandon();

    std::string shown;    // OUT as given, for messages
    std::string target;
    int file = -1;
    bool toStandardOutput = false;
    int lastError = 0;
};

// OUT with every symbolic link on its last component followed: the path of the file
// that writing "through" it reaches. false (errno set) for a loop or too many links.
bool FollowLinks(const std::string& path, std::string& target);

#endif
