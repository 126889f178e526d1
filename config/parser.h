#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/result.h"

class TiXmlDocument;

namespace Parser {

// Fills the four configuration lists and the run settings from a deployment
// document, logging every value it stores. Returns RESULT_PASSED, or
// RESULT_ERROR (logged) when there is no root element or the document's
// format version is absent or newer than "2". Everything else that does not
// fit is skipped without a message.
Result Parse(const TiXmlDocument& document);

// The deepest that elements may nest in a document given to TinyXML. It
// parses and frees nested elements recursively, and about ten thousand levels
// exhaust a thread's stack; the deployment document nests four deep.
inline constexpr int kMaxNesting = 1000;

// The offset of the start tag that would nest deeper than kMaxNesting, read
// as TinyXML reads the markup (comments, CDATA, declarations and quoted
// attribute values hide tags); npos when there is none.
size_t FindTooDeep(std::string_view text);

// The newest format version of the deployment document that is read.
inline constexpr wchar_t kSupportedFormat[] = L"2";

// The keywords of a Condition's type and op and of a Location's type, in any
// letter case: the ConditionType, ConditionOp and TRANSFER_ number, or 0 for
// an absent text or one that is not a keyword.
int ConditionType(const std::optional<std::wstring>& text);
int ConditionOp(const std::optional<std::wstring>& text);
int TransferType(const std::optional<std::wstring>& text);

// The operand names of an and/or/not condition's value, split at blanks and
// commas; empty names are dropped.
std::vector<std::wstring_view> SplitOperands(std::wstring_view list);

}  // namespace Parser
