// The machine root's Internet Settings as WinINet and the hidden browser read them: the proxy from
// HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings (ProxyEnable, ProxyServer,
// ProxyOverride), and the certificates that the root trusts beside the system's own (its certs/
// folder, as Windows keeps its certificate stores). Implemented in libwininet.so.
//
// Every call reads the current state (so a test that changes the setting sees it at once) and may
// be made from any thread. A setting that cannot be read counts as no proxy.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct ProxySetting {
    bool enabled = false;
    std::string server; // "host:port", or "http=host:port;https=host:port"
    std::string bypass; // "<local>;*.example.com;..."
};

ProxySetting ReadProxySetting();

// The proxy ("host:port") that a request to scheme://host goes through under setting, or empty
// for a direct connection: a per-scheme entry wins over a plain one, and the bypass list (wildcards
// '*', "<local>" for names without a dot) sends matching hosts direct.
std::string ProxyFor(const ProxySetting& setting, const std::string& scheme, const std::string& host);

// The PEM files in the root's certs/ folder (*.pem, *.crt, *.cer), sorted by name.
std::vector<std::string> TrustedCertificateFiles();

}
