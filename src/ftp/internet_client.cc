#include "ftp/internet_client.h"

namespace postrunner {

CInternetClient::CInternetClient() {
  auto session = std::make_unique<CurlEasy>();
  if (*session) session_ = std::move(session);
}

CInternetClient::~CInternetClient() = default;

}  // namespace postrunner
