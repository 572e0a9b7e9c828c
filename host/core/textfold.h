#pragma once

#include <QString>
#include <vector>

namespace host {

// Case- and accent-insensitive text order, cheap enough for sorting large lists: each UTF-16
// unit maps to one folded unit (lower case, without its accent: "Á" -> "a", "Ç" -> "c"), so
// folding never changes a string's length and comparing folded texts unit by unit gives the
// same order as folding first.
char16_t foldChar(char16_t c);
void foldAppend(const QString& s, std::vector<char16_t>& out);
QString foldText(const QString& s);
int foldCompare(const QString& a, const QString& b);

}  // namespace host
