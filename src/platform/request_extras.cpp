#include "platform/request_extras.h"

#include <algorithm>
#include <thread>

namespace folivex {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerText(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// `host` is `domain` or lies below it.
bool InDomain(std::string_view host, std::string_view domain) {
  if (domain.empty()) return false;
  if (EqualsNoCase(host, domain)) return true;
  return host.size() > domain.size() && host[host.size() - domain.size() - 1] == '.' &&
         EqualsNoCase(host.substr(host.size() - domain.size()), domain);
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t cut = text.find(separator, start);
    parts.push_back(text.substr(start, cut == std::string_view::npos ? std::string_view::npos : cut - start));
    if (cut == std::string_view::npos) return parts;
    start = cut + 1;
  }
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool PathMatches(std::string_view request_path, std::string_view cookie_path) {
  if (cookie_path.empty()) return true;
  if (!request_path.starts_with(cookie_path)) return false;
  return request_path.size() == cookie_path.size() || cookie_path.back() == '/' ||
         request_path[cookie_path.size()] == '/';
}

}  // namespace

std::vector<FileCookie> ParseCookieFile(std::string_view text) {
  std::vector<FileCookie> cookies;
  for (std::string_view line : Split(text, '\n')) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    constexpr std::string_view kHttpOnly = "#HttpOnly_";
    if (line.starts_with(kHttpOnly)) {
      line.remove_prefix(kHttpOnly.size());
    } else if (Trim(line).empty() || line.front() == '#') {
      continue;
    }
    const std::vector<std::string_view> fields = Split(line, '\t');
    if (fields.size() < 6 || fields.size() > 7) continue;
    FileCookie cookie;
    std::string_view domain = Trim(fields[0]);
    if (domain.starts_with('.')) domain.remove_prefix(1);
    cookie.domain = LowerText(domain);
    cookie.include_subdomains = EqualsNoCase(Trim(fields[1]), "TRUE");
    cookie.path = std::string(Trim(fields[2]));
    cookie.secure = EqualsNoCase(Trim(fields[3]), "TRUE");
    cookie.expires = std::strtoll(std::string(Trim(fields[4])).c_str(), nullptr, 10);
    cookie.name = std::string(fields[5]);
    cookie.value = fields.size() == 7 ? std::string(fields[6]) : std::string();
    if (cookie.domain.empty() || cookie.name.empty()) continue;
    cookies.push_back(std::move(cookie));
  }
  return cookies;
}

std::optional<AddressParts> SplitAddress(std::string_view address) {
  AddressParts parts;
  const std::size_t scheme_end = address.find("://");
  if (scheme_end == std::string_view::npos) return std::nullopt;
  const std::string scheme = LowerText(address.substr(0, scheme_end));
  if (scheme != "http" && scheme != "https") return std::nullopt;
  parts.secure = scheme == "https";
  std::string_view rest = address.substr(scheme_end + 3);
  const std::size_t authority_end = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authority_end);
  rest = authority_end == std::string_view::npos ? std::string_view() : rest.substr(authority_end);
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    authority = authority.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
  } else if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
    authority = authority.substr(0, colon);
  }
  if (authority.empty()) return std::nullopt;
  parts.host = LowerText(authority);
  const std::size_t path_end = rest.find_first_of("?#");
  parts.path = std::string(rest.substr(0, path_end));
  if (parts.path.empty() || parts.path.front() != '/') parts.path = "/";
  return parts;
}

std::string CookieHeaderFor(const std::vector<FileCookie>& cookies, std::string_view address, long long now) {
  const std::optional<AddressParts> parts = SplitAddress(address);
  if (!parts) return {};
  std::string header;
  for (const FileCookie& c : cookies) {
    const bool host_ok = c.include_subdomains ? InDomain(parts->host, c.domain) : EqualsNoCase(parts->host, c.domain);
    if (!host_ok || !PathMatches(parts->path, c.path)) continue;
    if (c.secure && !parts->secure) continue;
    if (c.expires != 0 && c.expires <= now) continue;
    if (!header.empty()) header += "; ";
    header += c.name + "=" + c.value;
  }
  return header;
}

ProxySettings ProxySettingsFromEnvironment(
    const std::function<std::optional<std::string>(const char*)>& get) {
  auto either = [&](const char* lower, const char* upper) {
    if (std::optional<std::string> v = get(lower)) return *v;
    if (upper) {
      if (std::optional<std::string> v = get(upper)) return *v;
    }
    return std::string();
  };
  ProxySettings settings;
  settings.enabled = true;
  settings.http_proxy = either("http_proxy", nullptr);
  settings.https_proxy = either("https_proxy", "HTTPS_PROXY");
  settings.all_proxy = either("all_proxy", "ALL_PROXY");
  settings.no_proxy = either("no_proxy", "NO_PROXY");
  return settings;
}

bool HostBypassesProxy(std::string_view host, std::string_view no_proxy) {
  for (std::string_view entry : Split(no_proxy, ',')) {
    entry = Trim(entry);
    if (entry == "*") return true;
    if (entry.starts_with('.')) entry.remove_prefix(1);
    if (entry.starts_with('[') && entry.ends_with(']')) entry = entry.substr(1, entry.size() - 2);
    if (!entry.empty() && InDomain(host, entry)) return true;
  }
  return false;
}

std::string ProxyFor(const ProxySettings& settings, std::string_view address) {
  if (!settings.enabled) return {};
  const std::optional<AddressParts> parts = SplitAddress(address);
  if (!parts || HostBypassesProxy(parts->host, settings.no_proxy)) return {};
  std::string proxy = settings.explicit_proxy;
  if (proxy.empty()) proxy = parts->secure ? settings.https_proxy : settings.http_proxy;
  if (proxy.empty()) proxy = settings.all_proxy;
  proxy = std::string(Trim(proxy));
  if (!proxy.empty() && proxy.find("://") == std::string::npos) proxy.insert(0, "http://");
  return proxy;
}

RateLimit::RateLimit(std::int64_t bytes_per_second) : rate_(std::max<std::int64_t>(1, bytes_per_second)) {}

std::chrono::microseconds RateLimit::Reserve(std::size_t bytes, std::chrono::steady_clock::time_point now) {
  std::lock_guard guard(mutex_);
  due_ = std::max(due_, now) +
         std::chrono::microseconds(static_cast<std::int64_t>(static_cast<double>(bytes) * 1e6 / static_cast<double>(rate_)));
  return std::chrono::duration_cast<std::chrono::microseconds>(due_ - now);
}

void RateLimit::Take(std::size_t bytes) {
  const std::chrono::microseconds wait = Reserve(bytes, std::chrono::steady_clock::now());
  if (wait.count() > 0) std::this_thread::sleep_for(wait);
}

void RequestSlots::Acquire(std::int64_t rank) {
  std::unique_lock guard(mutex_);
  if (free_ > 0) {
    --free_;
    return;
  }
  Waiter self;
  waiting_.emplace(std::make_pair(rank, arrivals_++), &self);
  self.turn.wait(guard, [&] { return self.granted; });
}

void RequestSlots::Release() {
  std::lock_guard guard(mutex_);
  if (waiting_.empty()) {
    ++free_;
    return;
  }
  const auto first = waiting_.begin();
  Waiter* next = first->second;
  waiting_.erase(first);
  next->granted = true;
  // Still under the lock: once it is let go, the waiter may see `granted`,
  // return and take its condition variable with it.
  next->turn.notify_one();
}

std::size_t RequestSlots::Waiting() {
  std::lock_guard guard(mutex_);
  return waiting_.size();
}

std::int64_t RequestSlots::NextRank() {
  std::lock_guard guard(mutex_);
  return ++last_rank_;
}

}  // namespace folivex
