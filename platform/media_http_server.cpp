#include "platform/media_http_server.h"

#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/media_writer.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
}

namespace media {

namespace {

// A port nobody listens on at the moment: the kernel's choice for a socket
// bound to port 0. FFmpeg's server does not tell which port it took.
uint32_t FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  uint32_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

}  // namespace

TMediaHttpServer::TMediaHttpServer(TStatusCallback Callback) : FCallback(std::move(Callback)) {}

TMediaHttpServer::~TMediaHttpServer() { Close(); }

int TMediaHttpServer::Interrupted(void* Opaque) {
  return static_cast<TMediaHttpServer*>(Opaque)->Stopping.load() ? 1 : 0;
}

bool TMediaHttpServer::Open(uint32_t& Port, uint32_t MaxClients) {
  Close();
  Stopping = false;
  if (Port == 0) Port = FreeLoopbackPort();
  if (Port == 0 || Port > 65535) return false;
  FMaxClients = MaxClients == 0 ? 1 : MaxClients;
  const std::string url = "http://127.0.0.1:" + std::to_string(Port);
  AVDictionary* options = nullptr;
  // 2: a server that accepts clients one by one through avio_accept.
  av_dict_set(&options, "listen", "2", 0);
  const AVIOInterruptCB interrupt = {&TMediaHttpServer::Interrupted, this};
  const int result = avio_open2(&Server, url.c_str(), AVIO_FLAG_WRITE, &interrupt, &options);
  av_dict_free(&options);
  if (result < 0) {
    Server = nullptr;
    return false;
  }
  Acceptor = std::thread([this] { AcceptClients(); });
  return true;
}

void TMediaHttpServer::AcceptClients() {
  while (!Stopping) {
    AVIOContext* client = nullptr;
    if (avio_accept(Server, &client) < 0 || !client) continue;
    bool refuse = false;
    {
      std::lock_guard lock(ClientLock);
      refuse = Clients.size() >= FMaxClients;
    }
    if (refuse) av_opt_set_int(client, "reply_code", AVERROR_HTTP_FORBIDDEN, AV_OPT_SEARCH_CHILDREN);
    int step = 0;
    while ((step = avio_handshake(client)) > 0 && !Stopping) {
    }
    if (refuse || step < 0 || Stopping) {
      avio_closep(&client);
      continue;
    }
    {
      std::lock_guard lock(ClientLock);
      if (!FHeader.empty()) {
        avio_write(client, FHeader.data(), static_cast<int>(FHeader.size()));
        avio_flush(client);
      }
      if (client->error < 0) {
        avio_closep(&client);
        continue;
      }
      Clients.push_back(client);
    }
    if (FCallback) FCallback(kMediaStatusClientConnected);
  }
}

void TMediaHttpServer::SetHeader(std::vector<uint8_t> Header) {
  std::lock_guard lock(ClientLock);
  FHeader = std::move(Header);
}

void TMediaHttpServer::DropClient(std::size_t Index) {
  avio_closep(&Clients[Index]);
  Clients.erase(Clients.begin() + static_cast<std::ptrdiff_t>(Index));
  if (FCallback) FCallback(kMediaStatusClientDisconnected);
}

void TMediaHttpServer::Send(const uint8_t* Data, std::size_t Bytes) {
  std::lock_guard lock(ClientLock);
  for (std::size_t i = Clients.size(); i-- > 0;) {
    avio_write(Clients[i], Data, static_cast<int>(Bytes));
    avio_flush(Clients[i]);
    if (Clients[i]->error < 0) DropClient(i);
  }
}

int TMediaHttpServer::ClientCount() {
  std::lock_guard lock(ClientLock);
  return static_cast<int>(Clients.size());
}

void TMediaHttpServer::Close() {
  Stopping = true;
  if (Acceptor.joinable()) Acceptor.join();
  {
    std::lock_guard lock(ClientLock);
    while (!Clients.empty()) DropClient(Clients.size() - 1);
    FHeader.clear();
  }
  if (Server) avio_closep(&Server);
}

}  // namespace media
