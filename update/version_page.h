#pragma once
// What the version check reads of the loaded version file: the text a browser control gives
// as its body element's HTML, made from the reply and its content type. Qt-free.

// Std
#include <string>
#include <string_view>

enum class PageKind { Html, PlainText };

// From the reply's Content-Type header (empty when there is none). text/html and
// application/xhtml+xml are HTML. No type, or one that says nothing (application/octet-stream,
// unknown/unknown), leaves it to the text: HTML when it opens with an HTML tag, as a browser
// sniffs it. Any other type is plain text.
[[nodiscard]] PageKind PageKindOf(std::string_view contentType, std::string_view text);

// The body element's HTML text for the reply.
//  - HTML: what stands between the body's start tag (with or without attributes) and its end
//    tag, or </html>, or the end of the page. A page without a body tag gets the body a
//    browser makes up: what follows the head (or the html start tag), from its first
//    non-blank character on. A body start tag that never closes leaves the body empty.
//  - Plain text: the text inside the pre-formatted element a browser shows it in, "<pre>" and
//    "</pre>", with "&", "<" and ">" written "&amp;", "&lt;" and "&gt;" as the body's HTML
//    text holds them. Line ends stay as they are.
// The HTML is not parsed: tags are found by name, case-insensitively; comments, scripts and
// character references are taken as they stand.
[[nodiscard]] std::string PageBodyHtml(std::string_view reply, std::string_view contentType);
