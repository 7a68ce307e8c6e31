// The simulator's side of the simulator link's named objects: it creates them, waits for
// the host's trigger, answers through the ready event, and reaches into the memory of the
// process that sent a message. Also the one file operation that differs between the
// platforms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vok::sim {

class objects {
 public:
  objects() = default;
  ~objects();
  objects(const objects &) = delete;
  objects &operator=(const objects &) = delete;

  // Creates and publishes every object; refuses while another simulator serves. On failure
  // `error` says why and nothing is left behind.
  bool create(std::size_t status_size, std::string &error);
  // Removes every object (also done by the destructor).
  void remove();

  // Serves memory that the caller owns instead of published objects (for tests): `area` is a
  // message area of 16 KiB, `status` the status region. Nothing is waited for or signalled.
  void serve_memory(unsigned char *area, unsigned char *status, std::size_t status_size) {
    remove();
    area_ = area;
    status_view_ = status;
    status_size_ = status_size;
  }

  // The host-to-device message area, 16 KiB.
  unsigned char *area() const { return area_; }
  unsigned char *status() const { return status_view_; }
  std::size_t status_size() const { return status_size_; }

  // Waits for a message at most `timeout_ms`; true when one is waiting.
  bool wait_trigger(int timeout_ms);
  // Tells the host that the reply is in place.
  void set_ready();

  // Reads or writes the memory of process `pid`; false when any byte cannot be reached.
  static bool read_sender(std::uint32_t pid, std::uint64_t address, void *into, std::size_t length);
  static bool write_sender(std::uint32_t pid, std::uint64_t address, const void *from,
                           std::size_t length);

 private:
  struct state;  // the platform's objects
  state *state_ = nullptr;
  unsigned char *request_view_ = nullptr;
  unsigned char *area_ = nullptr;
  unsigned char *status_view_ = nullptr;
  std::size_t status_size_ = 0;
};

// Puts the file `from` in the place of `to`, replacing a file there; false when it fails.
bool replace_file(const std::string &from, const std::string &to);

}  // namespace vok::sim
