#pragma once

// A rename that never replaces a file already under the new name.
//
// renameat2(RENAME_NOREPLACE) does it in one step. The FUSE drivers of memory
// cards and Windows drives (FAT, exFAT, NTFS) answer EINVAL to that flag, and
// FAT refuses hard links, so there the new name is first claimed with an
// exclusive create: from then on no other file can appear under it, and the
// plain rename that follows replaces only that empty placeholder of ours.
//
// A rename to a name that differs only in case, on a file system that ignores
// case (the name already leads to the file itself), is a plain rename.
namespace NoReplaceRename {

// 0 on success, else an errno value: EEXIST when the name is taken.
int renameAt(int fromDir, const char *from, int toDir, const char *to);

// The second way alone, as renameAt takes it where the flag is refused.
int renameByClaim(int fromDir, const char *from, int toDir, const char *to);

} // namespace NoReplaceRename
