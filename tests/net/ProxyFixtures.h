#pragma once
// Debian's proxies as test peers: tinyproxy (HTTP proxy and CONNECT tunnel, optional Basic
// authentication) and dante's sockd (SOCKS 4 and 5 without authentication), each started in the
// foreground as a child process on a free loopback port with a generated configuration in a
// scratch folder, and stopped by the destructor. The child inherits the test environment.
//
//   quillo::test::TTinyProxy proxy;
//   ASSERT_TRUE(proxy.Start("bob", "secret")) << proxy.ErrorText();
//   config.ProxyPort = proxy.Port();

#include <memory>
#include <string>

class QProcess;

namespace quillo::test {

// A loopback port that was free a moment ago.
int FreeLoopbackPort();
// Waits until something accepts connections on 127.0.0.1:Port.
bool WaitForListener(int Port, int TimeoutMs);

class TProxyProcess {
public:
    TProxyProcess();
    virtual ~TProxyProcess();
    TProxyProcess(const TProxyProcess&) = delete;
    TProxyProcess& operator=(const TProxyProcess&) = delete;

    int Port() const { return FPort; }
    const std::string& ErrorText() const { return FError; }
    // Everything the proxy wrote to its output so far.
    std::string Output() const;
    void Stop();

protected:
    bool Launch(const std::string& Program, const std::string& ConfigText, const std::string& ConfigName,
                const std::string& ExtraArg);
    std::string FDir;
    int FPort = 0;
    std::string FError;
    std::unique_ptr<QProcess> FProcess;
};

class TTinyProxy final : public TProxyProcess {
public:
    // With a user name, clients must authenticate with Basic credentials.
    bool Start(const std::string& User = {}, const std::string& Password = {});
};

class TDanteProxy : public TProxyProcess {
public:
    // With LogConnects, sockd logs every connection it relays (readable through Output()).
    bool Start(bool LogConnects = false);
};

} // namespace quillo::test
