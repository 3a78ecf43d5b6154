#include "core/net/IdHTTPEx.h"

#include "core/net/NetErrors.h"

namespace quillo {

class TIdHTTPEx::TImpl {};

TIdHTTPEx::TIdHTTPEx() : FImpl(std::make_unique<TImpl>()) {
    ResetDefaults();
}
TIdHTTPEx::~TIdHTTPEx() = default;
void TIdHTTPEx::SetStack(TIdStackWindowsEx*) {}
void TIdHTTPEx::ResetDefaults() {}
void TIdHTTPEx::AddFormField(const std::string&, const std::string&) {}
void TIdHTTPEx::SetFileField(const std::string&, const std::string&, const std::string&, int64_t, int64_t) {}
void TIdHTTPEx::ClearForm() {}
void TIdHTTPEx::ClearCookies() {}
void TIdHTTPEx::PostForm(const std::string&, std::string&) {
    throw ENetworkError("not ready");
}
std::string TIdHTTPEx::PostFormText(const std::string&) {
    throw ENetworkError("not ready");
}
std::string TIdHTTPEx::Get(const std::string&) {
    throw ENetworkError("not ready");
}
std::string TIdHTTPEx::MakeBoundary() {
    return {};
}
std::string TIdHTTPEx::FixRedirectLocation(const std::string& L) {
    return L;
}
void TIdHTTPEx::Abort() {}
void TIdHTTPEx::Disconnect() {}

} // namespace quillo
