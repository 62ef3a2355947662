#include "web/HttpMessage.h"

#include <strings.h>

#include "web/Json.h"

std::string HttpRequest::Param(const std::string& name) const {
  auto found = params.find(name);
  return found == params.end() ? std::string() : found->second;
}

std::string HttpRequest::Header(const std::string& name) const {
  for (const auto& header : headers) {
    if (strcasecmp(header.first.c_str(), name.c_str()) == 0) return header.second;
  }
  return std::string();
}

HttpResponse HttpResponse::Error(int status, const std::string& message) {
  HttpResponse response;
  response.status = status;
  response.body = JsonError(message);
  return response;
}
