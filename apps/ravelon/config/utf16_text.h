// The text of a .reg file as UTF-8, whatever encoding Windows saved it in.
// Part of the .reg reader; pure, any thread.
#pragma once

#include <string>
#include <string_view>

namespace ravelon::cli {

// Turns the bytes of a text file into UTF-8: UTF-16LE after its byte-order
// mark (FF FE) is converted, a UTF-8 byte-order mark is dropped, anything else
// is kept as it is (UTF-8 or ASCII). Returns "" on success, else why the bytes
// are not text it reads; `line` then says where (1 = first line).
std::string DecodeTextFile(std::string_view bytes, std::string& text, int& line);

}  // namespace ravelon::cli
