// The network sink of the media writer: an HTTP server on the loopback
// address (FFmpeg's HTTP protocol in its multi-client "listen" mode) that
// sends the stream's header and then every block written to the clients
// connected, up to a maximum; a client beyond it is refused with
// "403 Forbidden". Clients are accepted on a thread of the server's own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

struct AVIOContext;

namespace media {

class TMediaHttpServer {
 public:
  // Receives kMediaStatusClientConnected / ...Disconnected, on the server's
  // thread for a connection, on the sending thread for a client that left.
  using TStatusCallback = std::function<void(uint32_t Status)>;

  explicit TMediaHttpServer(TStatusCallback Callback);
  ~TMediaHttpServer();
  TMediaHttpServer(const TMediaHttpServer&) = delete;
  TMediaHttpServer& operator=(const TMediaHttpServer&) = delete;

  // Port 0 takes a free port; Port then holds the one taken. MaxClients 0
  // serves one client.
  bool Open(uint32_t& Port, uint32_t MaxClients);
  // What every client receives first, before the blocks sent after it joined.
  void SetHeader(std::vector<uint8_t> Header);
  // To every client connected; a client that fails is dropped.
  void Send(const uint8_t* Data, std::size_t Bytes);
  // Ends every client's stream and the server.
  void Close();

  int ClientCount();

 private:
  void AcceptClients();
  void DropClient(std::size_t Index);
  static int Interrupted(void* Opaque);

  TStatusCallback FCallback;
  AVIOContext* Server = nullptr;
  std::vector<AVIOContext*> Clients;
  std::vector<uint8_t> FHeader;
  std::mutex ClientLock;
  std::atomic<bool> Stopping{false};
  uint32_t FMaxClients = 1;
  std::thread Acceptor;
};

}  // namespace media
