#include "core/net/SocketConnection.h"

#include "core/net/NetErrors.h"

namespace quillo {

class TSocketConnection::TImpl {};

TSocketConnection::TSocketConnection() : FImpl(std::make_unique<TImpl>()) {}
TSocketConnection::~TSocketConnection() = default;
void TSocketConnection::SetStack(TIdStackWindowsEx*) {}
void TSocketConnection::Connect(const std::string&, int) {
    throw EConnectError("not ready");
}
bool TSocketConnection::Connected() const {
    return false;
}
void TSocketConnection::Disconnect() {}
void TSocketConnection::Abort() {}
void TSocketConnection::Write(const void*, int64_t) {}
void TSocketConnection::WriteLn(const std::string&) {}
int64_t TSocketConnection::WriteStream(TFileReader&) {
    return 0;
}
std::string TSocketConnection::ReadLn() {
    return {};
}
int64_t TSocketConnection::ReadSome(void*, int64_t) {
    return 0;
}
std::string TSocketConnection::ReadAll() {
    return {};
}
std::string TSocketConnection::LocalAddress() const {
    return {};
}
int TSocketConnection::LocalPort() const {
    return 0;
}

} // namespace quillo
