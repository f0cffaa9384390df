// Writing a whole file so that a reader, or the next start after a crash,
// finds either all of it or nothing of it.
#pragma once

#include <string>
#include <string_view>

namespace zelvor {

// What the finished file does to one already at its name.
enum class ExistingFile { replace, keep };

// Makes the missing folders of `path`, writes `bytes` to a temporary file
// in the same folder, flushes it to the disk and renames it to `path` (on
// POSIX the folder is then flushed too, so the rename lasts). With
// ExistingFile::keep a file already at `path` is never touched: the call
// then returns false and leaves nothing behind. Throws kelvo::Failure
// "<path>: <reason>" for any other failure, also leaving no temporary file.
bool writeFileAtomically(const std::string& path, std::string_view bytes, ExistingFile existing);

}  // namespace zelvor
