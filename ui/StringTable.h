// The program's string table, looked up by id.
#pragma once

#include <string>

namespace res {

// The text of a string id; an id the table lacks gives an empty text.
std::string LoadString(int id);
bool HasString(int id);

}  // namespace res
