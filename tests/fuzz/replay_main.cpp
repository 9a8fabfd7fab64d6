// Replay driver: runs a fuzz target once over each file named, or over every file in
// each directory named, so that the targets run under g++ in the ordinary tests.
#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void CollectInputs(const std::string& path, std::vector<std::string>* inputs) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return;  // an empty corpus need not exist
    if (!S_ISDIR(info.st_mode)) {
        inputs->push_back(path);
        return;
    }
    DIR* directory = opendir(path.c_str());
    if (directory == nullptr) return;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') names.push_back(entry->d_name);  // skips .gitkeep too
    }
    closedir(directory);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) CollectInputs(path + "/" + name, inputs);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
        fprintf(stderr,
                "usage: %s FILE_OR_DIRECTORY...\n"
                "Runs the fuzz target once over each file (directories: every file in\n"
                "them, in name order). A broken check aborts with the input's name.\n",
                argv[0]);
        return argc < 2 ? 2 : 0;
    }
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) CollectInputs(argv[i], &inputs);
    for (const std::string& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
        fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), data.size());
        // libFuzzer never hands a target a null pointer; keep that for empty inputs.
        static const uint8_t EMPTY = 0;
        LLVMFuzzerTestOneInput(data.empty() ? &EMPTY : data.data(), data.size());
    }
    printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
