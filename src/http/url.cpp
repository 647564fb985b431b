#include "http/url.h"

#include "text/markers.h"

namespace folivex {

namespace {

constexpr std::string_view kHttp = "http://";
constexpr std::string_view kHttps = "https://";

// Standard mode: the text between the scheme and the next "/".
Text HostWithPort(Text w, bool dropSubdomains) {
  if (w.empty() || w.back() != '/') w += '/';
  if (TextLeft(w, 8) == kHttps) {
    w = ExtractBetween(w, kHttps, "/");
  } else {
    // A scheme-less address that names "http://" further on is taken from
    // there.
    if (FindText(w, kHttp) == -1) w = ConcatText(kHttp, w);
    w = ExtractBetween(w, kHttp, "/");
  }
  if (dropSubdomains) {
    const TextArray labels = SplitText(w, ".");
    const std::size_t n = labels.size();
    if (n > 1) w = ConcatText(labels[n - 2], ".", labels[n - 1]);
  }
  return w;
}

// Suffix mode: the host keeps as many labels as the suffix has dots plus one
// (plus two without `dropSubdomains`); a host with fewer dots stays whole.
Text HostBySuffix(Text w, bool dropSubdomains, int suffixDots) {
  w = ReplaceText(w, kHttp, std::nullopt, std::nullopt, std::nullopt, true);
  w = ReplaceText(w, kHttps, std::nullopt, std::nullopt, std::nullopt, true);
  const int slash = FindText(w, "/");
  if (slash != -1) w = TextLeft(w, slash - 1);
  const int len = TextLength(w);
  // The first search ends below the last byte, so a final dot never counts.
  int m = len;
  for (int i = 0; i < suffixDots; ++i) m = FindTextReverse(w, ".", m);
  const int o = FindTextReverse(w, ".", m);
  if (dropSubdomains) return TextRight(w, len - o);
  if (o != -1) {
    const int o2 = FindTextReverse(w, ".", o);
    if (o2 != -1) return TextRight(w, len - o2);
  }
  return w;
}

// Length of the scheme the address begins with, in any case; 0 without one.
int LeadingSchemeLength(std::string_view address) {
  const Text head = ToLower(TextLeft(address, 8));
  if (head == kHttps) return 8;
  if (TextLeft(head, 7) == kHttp) return 7;
  return 0;
}

}  // namespace

Text UrlHost(std::string_view address, bool dropSubdomains, bool keepPort,
             std::optional<int> suffixDots) {
  Text w = ToLower(address);
  w = suffixDots ? HostBySuffix(std::move(w), dropSubdomains, *suffixDots)
                 : HostWithPort(std::move(w), dropSubdomains);
  if (keepPort) return w;
  const int colon = FindText(w, ":");
  return colon == -1 ? w : TextLeft(w, colon - 1);
}

int UrlPort(std::string_view address) {
  const Text host = UrlHost(address, false, true);
  const int colon = FindTextReverse(host, ":");
  if (colon != -1) return TextToInt(TextRight(host, TextLength(host) - colon));
  return TextLeft(ToLower(address), 5) == "https" ? 443 : 80;
}

Text UrlPath(std::string_view address) {
  const Text host = UrlHost(address);
  // The host is looked for after a leading scheme: a short host such as "h"
  // or "p" also occurs inside "http://" itself, and the path would then
  // start at the scheme's slashes.
  const int after_scheme = LeadingSchemeLength(address) + 1;
  const int a = FindText(address, host, after_scheme, true);
  const int b = FindText(address, "/", a < after_scheme ? after_scheme : a, true);
  if (b <= 0) return "/";
  return TextRight(address, TextLength(address) - b + 1);
}

}  // namespace folivex
