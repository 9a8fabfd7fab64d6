// The plain member files of the tests: see member_file.h. (The tool has its own.)
#include "extract/member_file.h"

HFILE CreateMemberFile(const char* path, const char*) { return _lcreat(path, 0); }

HFILE CloseMemberFile(HFILE file) { return _lclose(file); }
