// The program a service unit starts and the directory it lives in, kept out of reach of every
// user but root: whoever could replace or redirect the program would have it run with the
// service's rights, root's at the latest when the account goes back to LocalSystem. For a unit of
// a user's own service manager (FERRIX_SERVICE_MANAGER=user) that user counts as root does.
//
// The service writes in its program directory (its log, its settings file, its temporary files).
// For an account other than root the directory stays root's, becomes sticky, so that no one but
// root may rename or delete a file there that is not their own (the program among them), and is
// made writable by that account alone through an entry of its access list; the service's files
// there become the account's. Only a directory of the service's own is handed so: in one shared
// with other programs (/usr/local/bin) the account could add programs that root runs. Every
// routine raises EOSError with a text naming the path.
#pragma once

#include <string>
#include <sys/types.h>

namespace ferrix {

// Refuses (EPERM, "The program PATH could be replaced by another user than root: ...", saying
// which path is wrong and how) a program that another user could replace or redirect. Accepted
// is a regular file owned by root, not writable by group or others, at a canonical path (no
// symbolic link, "." or ".." on the way); in a directory owned by root that no group and no
// others may write, and other users (entries of its access list) only when it is sticky; below
// directories up to "/" owned by root and either not writable by group and others or sticky.
// A path that cannot be examined raises with the system's text.
void CheckProgramPath(const std::string& programPath);

// Refuses (EPERM, "The directory DIR holds NAME: the service may run as an account only from a
// directory that holds nothing but PROGRAM and the service's own files ...") a program directory
// that holds anything besides the program and the service's files: its log ferrix.log, its
// settings file ferrix.ini and its temporary files, each a regular file. Raises with the
// system's text when the directory cannot be read.
void CheckProgramDirectoryOfItsOwn(const std::string& programPath);

// Lays the program's directory out for a service that runs as the user uid (primary group gid):
// a directory that is not the service's own is refused first (CheckProgramDirectoryOfItsOwn, on
// the directory opened here); then the directory becomes sticky, then writable by that user alone (the access-list entries of
// other users go), and the service's files there (made when missing, modes kept) become the
// user's. A file of that name that is not a regular file with one name (one a former account may
// have left as a link to another file) is refused, the files before it being handed already.
void HandProgramDirectoryTo(const std::string& programPath, uid_t uid, gid_t gid);

// Takes the directory back for root: the access-list entries of users go, then the sticky bit,
// and the service's files there become root's (the user's, for a user's own manager). Refuses
// such a file as HandProgramDirectoryTo does.
void TakeBackProgramDirectory(const std::string& programPath);

}  // namespace ferrix
