// The plain member files of the tool and the tests: see member_file.h.
#include "archive/member_file.h"

HFILE CreateMemberFile(const char* path, const char*) { return _lcreat(path, 0); }

HFILE CloseMemberFile(HFILE file) { return _lclose(file); }
