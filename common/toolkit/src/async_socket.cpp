// The backend-independent part of CAsyncSocket: construction, closing on
// destruction, and the default notifications (nothing to do).
#include "tk/socket.h"

namespace tk {

CAsyncSocket::CAsyncSocket() = default;

CAsyncSocket::~CAsyncSocket() {
  Close();
}

void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}
void CAsyncSocket::OnClose(int) {}

}  // namespace tk
