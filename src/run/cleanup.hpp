#pragma once
// Temporary files of a run that an interrupt must not leave behind, and the
// SIGINT/SIGTERM handlers that remove them.
//
// A signal handler cannot be handed state, so the registry is the one piece
// of process-wide state in krel: a fixed table, written only before a path's
// file exists and read only by the handler.

#include <string>

namespace krel::cleanup {

// Registers a temporary file (or a folder whose files are all temporary) for
// removal on SIGINT/SIGTERM. Returns a handle for forget(), or -1 when the
// table is full (then nothing is registered).
int remember(const std::string& path, bool folder);
void forget(int handle);

// Makes a private temporary file (mode 0600) or folder (0700) named by templ,
// whose last six characters, "XXXXXX", are replaced, and registers it before
// it exists: no signal can fall between its making and its registration.
// create_file returns its descriptor, create_folder 0; handle receives the
// registration (as remember's). -1 with errno set: nothing made or left
// registered.
int create_file(std::string& templ, int& handle);
int create_folder(std::string& templ, int& handle);

// SIGINT and SIGTERM: remove every registered path, print "krel: interrupted"
// on stderr, and end with status 130 (SIGINT) or 143 (SIGTERM).
void install_handlers();

// Removes a folder's files and the folder (best effort).
void remove_folder(const std::string& path);

}  // namespace krel::cleanup
