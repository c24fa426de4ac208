#pragma once

namespace qf {

/// Copies the whole regular file open as from into the empty regular file
/// open as to, by offsets (neither descriptor's position matters). Shares the
/// blocks where the file system can; else copies only the data, so every
/// hole of from stays a hole. A to that is no regular file (a pipe, a device)
/// gets every byte in order. False when reading or writing failed; to then
/// holds part of the bytes.
bool copyFileContents(int from, int to);

}  // namespace qf
