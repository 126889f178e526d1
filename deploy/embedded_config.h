#pragma once

#include <string>
#include <string_view>

#include "system/result.h"

// The two XML documents that the program carries as "XML_FILE" resources:
// 102 drives the run, 103 is the client's configuration, written out as it is.
namespace Deploy {

// Loads and parses the embedded deployment document, after clearing what an
// earlier parse stored. Logs "Deploy::ParseConfig - enter" and its return.
// RESULT_PASSED parsed; RESULT_ERROR when the resource is missing or empty,
// the XML is malformed ("Error loading xml string"), or the parser refused it.
Result ParseConfig();

// The parsing half of ParseConfig, for a document given as text: clears the
// lists and settings, parses, logs the return as ParseConfig does.
Result ParseConfigText(const char* text);

// Whether the embedded deployment document's Flags give `name` the value
// true, by the boolean text rule; false when it is absent or the document
// cannot be read. Logs nothing.
bool EmbeddedFlag(const char* name);

// Writes the embedded client document, byte for byte, to the configured
// path, creating its folders first. RESULT_PASSED when written and flushed;
// RESULT_FAILED when no path is configured; RESULT_ERROR otherwise. Logs
// nothing.
Result WriteAppConfig();

// As WriteAppConfig, to `path` rather than the configured path.
Result WriteAppConfigTo(const std::wstring& path);

}  // namespace Deploy
