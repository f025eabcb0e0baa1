#include "update/version_page.h"

// Std
#include <array>

namespace {

constexpr std::size_t None = std::string_view::npos;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// text starts with `lower` (already lower case), ignoring case.
bool StartsWithNoCase(std::string_view text, std::string_view lower) {
  if (text.size() < lower.size()) return false;
  for (std::size_t i = 0; i < lower.size(); ++i)
    if (Lower(text[i]) != lower[i]) return false;
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Where the tag "<name" ("<body", "</body") starts at or after `from`: its name followed by a
// blank, "/", ">" or the end of the text.
std::size_t FindTag(std::string_view page, std::string_view name, std::size_t from) {
  for (std::size_t at = page.find('<', from); at != None; at = page.find('<', at + 1)) {
    const std::string_view rest = page.substr(at + 1);
    if (!StartsWithNoCase(rest, name)) continue;
    if (rest.size() == name.size()) return at;
    const char after = rest[name.size()];
    if (IsBlank(after) || after == '/' || after == '>') return at;
  }
  return None;
}

// Just past the ">" that closes the tag starting at `at`, quoted attribute values skipped;
// None when the tag never closes.
std::size_t TagEnd(std::string_view page, std::size_t at) {
  char quote = 0;
  for (std::size_t i = at + 1; i < page.size(); ++i) {
    const char c = page[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return None;
}

std::string_view HtmlBody(std::string_view page) {
  std::size_t start = FindTag(page, "body", 0);
  if (start != None) {
    start = TagEnd(page, start);
    if (start == None) return {};
  } else {
    // No body tag: the browser's own body takes what follows the head.
    start = 0;
    if (const std::size_t head = FindTag(page, "/head", 0); head != None)
      start = TagEnd(page, head);
    else if (const std::size_t html = FindTag(page, "html", 0); html != None)
      start = TagEnd(page, html);
    if (start == None) return {};
    while (start < page.size() && IsBlank(page[start])) ++start;
  }
  std::size_t end = FindTag(page, "/body", start);
  if (end == None) end = FindTag(page, "/html", start);
  if (end == None) end = page.size();
  return page.substr(start, end - start);
}

std::string PreFormatted(std::string_view text) {
  std::string out = "<pre>";
  out.reserve(text.size() + 16);
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  out += "</pre>";
  return out;
}

// The HTML openings a browser recognises in a reply of unknown type, after leading blanks;
// each is followed by a blank or ">".
constexpr std::array<std::string_view, 17> HtmlOpenings{
    "<!doctype html", "<html", "<head", "<script", "<iframe", "<h1", "<div",   "<font", "<table",
    "<a",             "<style", "<title", "<b",   "<body",   "<br", "<p", "<!--"};

bool LooksLikeHtml(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  for (const std::string_view opening : HtmlOpenings) {
    if (text.size() <= opening.size() || !StartsWithNoCase(text, opening)) continue;
    const char after = text[opening.size()];
    if (after == ' ' || after == '>') return true;
  }
  return false;
}

}  // namespace

PageKind PageKindOf(std::string_view contentType, std::string_view text) {
  std::string type;
  for (const char c : TrimBlanks(contentType.substr(0, contentType.find(';')))) type += Lower(c);
  if (type == "text/html" || type == "application/xhtml+xml") return PageKind::Html;
  if (type.empty() || type == "application/octet-stream" || type == "unknown/unknown" ||
      type == "application/unknown" || type == "*/*")
    return LooksLikeHtml(text) ? PageKind::Html : PageKind::PlainText;
  return PageKind::PlainText;
}

std::string PageBodyHtml(std::string_view reply, std::string_view contentType) {
  if (PageKindOf(contentType, reply) == PageKind::Html) return std::string(HtmlBody(reply));
  return PreFormatted(reply);
}
