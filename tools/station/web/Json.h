// JSON text for the page's answers and its event stream.
//
// Pure functions; any thread.
#pragma once

#include <string>

// A JSON string literal of `text`, quotes included. The text is taken as
// UTF-8: a byte that does not belong to a valid sequence (a device name or
// preset in another encoding) becomes U+FFFD, so the answer is always valid
// UTF-8 and valid JSON.
std::string JsonString(const std::string& text);

// {"error":MESSAGE}: how the page's API says why not.
std::string JsonError(const std::string& message);
