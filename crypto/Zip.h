// gzip compression of whole files, through zlib's file interface. The
// target is replaced through ReplacementFile: it holds its old content until
// the new one is complete, and keeps its owner and mode (a device or a pipe
// at the target is written into). Every failure is logged and reported by
// the result; nothing throws.
#pragma once

// Compresses `path` into `path`.gz. On success the caller's text becomes the
// new name: `path` must have room for 3 more characters. An encrypted file
// ("aes" at its start) is left alone (false). A failed Zip leaves the source
// as it was.
bool Zip(char* path, bool removeSource);
// Decompresses `path` into `path` without its last 3 characters (the
// suffix itself is not checked; a file that is not gzip is copied as it is).
// On success the caller's text becomes the new name.
bool DeZip(char* path, bool removeSource);
// The same with the target named by the caller; the source stays.
bool ZipFile(const char* path, const char* target);
bool DeZipFile(const char* path, const char* target);
