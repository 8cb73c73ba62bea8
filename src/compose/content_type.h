#pragma once
// What a file part is, so that readers show a picture, play a sound and open a text instead of listing
// "<no description>".

#include <string>
#include <string_view>

namespace vox {

// The Content-Type value of a file: from its first bytes where they name a picture, sound or document
// format, else from the extension of its name, else "application/octet-stream". head is the start of
// the file (the whole file when complete is true). Plain text that is not ASCII gets a charset: utf-8
// when the bytes are UTF-8, otherwise gb18030, the text of Chinese systems that are not UTF-8.
std::string ContentTypeOf(std::string_view fileName, std::string_view head, bool complete);

}  // namespace vox
