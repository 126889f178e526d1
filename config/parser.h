#pragma once

#include "system/result.h"

class TiXmlDocument;

namespace Parser {

// Fills the four configuration lists and the run settings from a deployment
// document, logging every value it stores. Returns RESULT_PASSED, or
// RESULT_ERROR (logged) when there is no root element or the document's
// format version is absent or newer than "2". Everything else that does not
// fit is skipped without a message.
Result Parse(const TiXmlDocument& document);

}  // namespace Parser
