// The files under a folder, followed down its subfolders, in the order of their paths: what
// keldo-list -r lists for a folder, in the order the page lists a folder dropped on it.
#pragma once

// Whether `path` names a folder (following a link to one).
bool is_folder(const char* path);

// Calls `visit` with the path of each file under `folder` (FOLDER/SUB/NAME), in byte order of
// the paths. A link to a file is a file; a link to a folder is not followed, so that a link back
// up cannot walk for ever; devices and pipes are passed over. A subfolder that cannot be opened
// is visited as a file, so that its reason is reported when it is read. Stops, and returns
// false, if `visit` does; also when memory runs out (errno ENOMEM).
bool walk_folder(const char* folder, bool (*visit)(const char* path, void* context), void* context);
