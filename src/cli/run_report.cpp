#include "cli/run_report.h"

#include <cstdio>

#include "cli/terminal_text.h"

namespace folivex {

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t start = at;
    const long code = NextCodePoint(text, at);
    if (code < 0) {
      out += "\\ufffd";
    } else if (code == '"') {
      out += "\\\"";
    } else if (code == '\\') {
      out += "\\\\";
    } else if (code == '\n') {
      out += "\\n";
    } else if (code == '\r') {
      out += "\\r";
    } else if (code == '\t') {
      out += "\\t";
    } else if (code < 0x20 || code == 0x7F) {
      char escape[16];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
      out += escape;
    } else {
      out.append(text.substr(start, at - start));
    }
  }
  return out + "\"";
}

std::string_view FailureKindName(FailureKind kind) {
  switch (kind) {
    case FailureKind::BadAddress: return "bad-address";
    case FailureKind::NoConnection: return "no-connection";
    case FailureKind::NoResponse: return "no-response";
    case FailureKind::Timeout: return "time-out";
    case FailureKind::TooSlow: return "too-slow";
    case FailureKind::Reset: return "reset";
    case FailureKind::CutShort: return "cut-short";
    case FailureKind::Security: return "secure-connection";
    case FailureKind::TooLarge: return "too-large";
    case FailureKind::BadResponse: return "bad-response";
    case FailureKind::HttpStatus: return "http-status";
    case FailureKind::EmptyBody: return "empty-body";
    case FailureKind::NotImage: return "not-an-image";
    case FailureKind::IncompleteImage: return "incomplete-image";
    case FailureKind::WriteFailed: return "write-failed";
    case FailureKind::ReadFailed: return "read-failed";
    case FailureKind::NotRegularFile: return "not-a-regular-file";
    case FailureKind::Stopped: return "stopped";
    case FailureKind::Other: return "other";
  }
  return "other";
}

namespace {

std::string_view OutcomeName(const PageRecord& page) {
  if (page.outcome.Stopped() && page.outcome.attempts == 0) return "not-started";
  switch (page.outcome.status) {
    case PageStatus::Saved: return "saved";
    case PageStatus::Kept: return "kept";
    case PageStatus::Failed: return "failed";
  }
  return "failed";
}

void AppendPage(std::string& out, const PageRecord& page) {
  out += "        {\"page\": " + std::to_string(page.page) + ", \"address\": " + JsonString(page.address) +
         ", \"file\": " + JsonString(page.file) + ", \"outcome\": \"" + std::string(OutcomeName(page)) +
         "\", \"bytes\": " + std::to_string(page.outcome.bytes) +
         ", \"attempts\": " + std::to_string(page.outcome.attempts) + ", \"failure\": ";
  if (const std::optional<Failure>& f = page.outcome.failure; f && page.outcome.status == PageStatus::Failed) {
    out += "{\"kind\": \"" + std::string(FailureKindName(f->kind)) + "\"";
    if (f->kind == FailureKind::HttpStatus) out += ", \"status\": " + std::to_string(f->status);
    out += ", \"detail\": " + JsonString(f->detail) + "}";
  } else {
    out += "null";
  }
  out += "}";
}

}  // namespace

std::string ReportJson(const std::vector<BookRecord>& books, bool interrupted) {
  std::string out = "{\n  \"interrupted\": ";
  out += interrupted ? "true" : "false";
  out += ",\n  \"books\": [";
  for (std::size_t b = 0; b < books.size(); ++b) {
    const BookRecord& book = books[b];
    out += b ? ",\n" : "\n";
    out += "    {\"address\": " + JsonString(book.address) + ", \"title\": " + JsonString(book.title) +
           ", \"folder\": " + JsonString(book.folder) +
           ",\n     \"declared_pages\": " + std::to_string(book.declared_pages) +
           ", \"complete\": " + (book.complete ? "true" : "false") +
           ", \"problem\": " + (book.problem ? JsonString(*book.problem) : std::string("null")) +
           ",\n     \"pages\": [";
    for (std::size_t p = 0; p < book.pages.size(); ++p) {
      out += p ? ",\n" : "\n";
      AppendPage(out, book.pages[p]);
    }
    out += book.pages.empty() ? "]}" : "\n      ]}";
  }
  out += books.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

}  // namespace folivex
