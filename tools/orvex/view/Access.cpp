// Which Host and Origin headers the viewer answers: its own names only.
#include "view/Access.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

namespace orvex::cli {
namespace {

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool isIpv4(const std::string& text, in_addr& address)
{
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool isIpv6(const std::string& text, in6_addr& address)
{
    return inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

bool isLoopback(const std::string& name)
{
    in_addr v4{};
    if (isIpv4(name, v4))
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return isIpv6(name, v6) && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool isAddressLiteral(const std::string& name)
{
    in_addr v4{};
    in6_addr v6{};
    return isIpv4(name, v4) || isIpv6(name, v6);
}

struct HostPort {
    std::string name; // without brackets
    std::optional<unsigned> port;
};

// Splits "name[:port]" or "[v6][:port]"; nothing when it is of neither form.
std::optional<HostPort> splitHostPort(const std::string& text)
{
    HostPort out;
    std::string rest;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        out.name = text.substr(1, close - 1);
        rest = text.substr(close + 1);
    } else {
        const std::size_t colon = text.find(':');
        out.name = text.substr(0, colon);
        rest = colon == std::string::npos ? std::string() : text.substr(colon);
    }
    if (out.name.empty())
        return std::nullopt;
    if (!rest.empty()) {
        const std::string digits = rest.substr(1);
        if (rest.front() != ':' || digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        out.port = static_cast<unsigned>(std::stoul(digits));
    }
    return out;
}

} // namespace

bool isAnyAddress(const std::string& address)
{
    in_addr v4{};
    in6_addr v6{};
    if (isIpv4(address, v4))
        return v4.s_addr == htonl(INADDR_ANY);
    return isIpv6(address, v6) && IN6_IS_ADDR_UNSPECIFIED(&v6);
}

ViewAccess::ViewAccess(const std::string& listenAddress, const std::string& boundAddress, unsigned short port)
    : _anyAddress(isAnyAddress(boundAddress)), _port(port)
{
    _names.insert("localhost");
    _names.insert(lowerCase(listenAddress));
    _names.insert(lowerCase(boundAddress));
    if (_anyAddress) {
        std::array<char, 256> name{};
        if (gethostname(name.data(), name.size() - 1) == 0)
            _names.insert(lowerCase(name.data()));
    }
}

bool ViewAccess::nameAllowed(const std::string& name) const
{
    const std::string lower = lowerCase(name);
    if (_names.count(lower) != 0 || isLoopback(lower))
        return true;
    // Listening on every address: the user may type any of them. An address
    // literal is not a name an attacker's DNS can point here.
    return _anyAddress && isAddressLiteral(lower);
}

bool ViewAccess::hostAllowed(const std::string& host) const
{
    const auto split = splitHostPort(host);
    return split && nameAllowed(split->name);
}

bool ViewAccess::originAllowed(const std::string& origin) const
{
    const std::string scheme = "http://";
    if (origin.compare(0, scheme.size(), scheme) != 0)
        return false;
    const auto split = splitHostPort(origin.substr(scheme.size()));
    return split && nameAllowed(split->name) && split->port.value_or(80) == _port;
}

} // namespace orvex::cli
