#include "server.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "sv_simlink.h"
#include "vokoem/vokoem.h"

namespace vok::sim {
namespace {

constexpr std::size_t description_size = 256;

}  // namespace

server::server(objects &link, options settings)
    : link_(link), options_(std::move(settings)), model_(options_.config) {
  if (!options_.trace_log.empty()) trace_ = std::fopen(options_.trace_log.c_str(), "a");
  model_.on_trace = [this](const std::string &line) {
    if (trace_ == nullptr) return;
    std::fputs(line.c_str(), trace_);
    if (line.empty() || line.back() != '\n') std::fputc('\n', trace_);
    std::fflush(trace_);
  };
}

server::~server() {
  if (trace_ != nullptr) std::fclose(trace_);
}

bool server::load(std::string &error) {
  if (options_.flash_file.empty()) return true;
  return load_flash_file(options_.flash_file, model_, error);
}

void server::save() {
  if (!options_.flash_file.empty() && !save_flash_file(options_.flash_file, model_)) {
    std::fprintf(stderr, "vok-simulator: cannot write %s\n", options_.flash_file.c_str());
  }
}

void server::run(const std::atomic<bool> &stop) {
  while (!stop.load()) {
    if (link_.wait_trigger(100)) handle_message();
  }
}

void server::handle_message() {
  unsigned char *area = link_.area();
  const std::uint32_t type = get32(area, simmsg::type);
  const std::uint32_t pid = get32(area, simmsg::pid);
  const std::uint32_t tid = get32(area, simmsg::tid);
  switch (type) {
    case sim_open: {
      const std::uint32_t connection = next_connection_++;
      put32(area, simmsg::connection, connection);
      if (options_.verbose) std::fprintf(stderr, "vok-simulator: connection %u from %u\n", connection, pid);
      break;
    }
    case sim_close:
      if (options_.verbose) {
        std::fprintf(stderr, "vok-simulator: connection %u closed\n", get32(area, simmsg::connection));
      }
      break;
    case sim_request_message:
      handle_request(pid);
      break;
    case sim_read:
    case sim_write:
      handle_memory(type, pid);
      break;
    default:
      if (options_.verbose) std::fprintf(stderr, "vok-simulator: unknown message %u\n", type);
  }
  link_.set_ready();
  host_core_.after_message(pid, tid);
}

void server::handle_request(std::uint32_t pid) {
  if (options_.die_after >= 0 && served_ >= options_.die_after) {
    std::fprintf(stderr, "vok-simulator: dying after %lld requests, as asked\n", served_);
    std::fflush(stderr);
    std::_Exit(3);
  }
  ++served_;
  if (options_.slow_us > 0) std::this_thread::sleep_for(std::chrono::microseconds(options_.slow_us));

  // The record is copied out before it is read, so that a host that changes the area
  // meanwhile cannot make the board read past what it was given.
  unsigned char *slot = link_.area() + sim_record_offset;
  const std::uint32_t size = get32(slot, 0);
  if (size < 16 || size > sim_record_limit) {
    if (size >= 16) put32(slot, 12, SV_ERROR_BUFFERSIZE);
    return;
  }
  alignas(8) unsigned char record[sim_record_limit];
  std::memcpy(record, slot, size);
  auto reader = [pid](std::uint64_t address, void *into, std::size_t length) {
    return objects::read_sender(pid, address, into, length);
  };
  board::serve_with_faults(model_, options_.faults, record, size, reader);
  std::memcpy(slot, record, size);
  if (get32(record, 8) == ORVELLO_REQ_FLASHWRITE && get32(record, 12) == SV_OK) save();
}

void server::handle_memory(std::uint32_t type, std::uint32_t pid) {
  const unsigned char *area = link_.area();
  const std::uint64_t address =
      static_cast<std::uint64_t>(get32(area, simmsg::address_high)) << 32 |
      get32(area, simmsg::address_low);
  const std::uint64_t length = get32(area, simmsg::length);
  const std::uint64_t offset =
      static_cast<std::uint64_t>(get32(area, simmsg::offset_high)) << 32 |
      get32(area, simmsg::offset_low);
  // A host writes status memory up to the simulator's process mark in its last bytes, never
  // over it: links opened later watch the process that the mark names.
  const std::uint64_t room =
      link_.status_size() - (type == sim_write ? sim_process_tail : std::size_t{0});
  if (offset > room || length > room - offset) return;
  unsigned char *device = link_.status() + offset;
  if (type == sim_read) {
    objects::write_sender(pid, address, device, length);
  } else {
    objects::read_sender(pid, address, device, length);
  }
}

bool load_flash_file(const std::string &path, board::board &model, std::string &error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return true;  // a new file: the flash starts erased
  std::vector<std::uint8_t> &flash = model.flash();
  in.read(reinterpret_cast<char *>(flash.data()), static_cast<std::streamsize>(flash.size()));
  for (int map = 1; map < board::region_count && in; ++map) {
    unsigned char words[12];
    char description[description_size + 1] = {};
    in.read(reinterpret_cast<char *>(words), sizeof words);
    in.read(description, description_size);
    if (in) {
      model.set_region(map, {get32(words, 0), description, get32(words, 4), get32(words, 8), 0});
    }
  }
  if (!in) {
    error = path + " is not a flash file of this simulator";
    return false;
  }
  return true;
}

bool save_flash_file(const std::string &path, const board::board &model) {
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    const auto &flash = model.flash();
    out.write(reinterpret_cast<const char *>(flash.data()), static_cast<std::streamsize>(flash.size()));
    for (int map = 1; map < board::region_count; ++map) {
      const board::board::region_info &r = model.region(map);
      unsigned char words[12];
      put32(words, 0, r.version);
      put32(words, 4, r.date);
      put32(words, 8, r.time);
      char description[description_size] = {};
      std::strncpy(description, r.comment.c_str(), description_size - 1);
      out.write(reinterpret_cast<const char *>(words), sizeof words);
      out.write(description, description_size);
    }
    if (!out) return false;
  }
  return replace_file(temporary, path);
}

}  // namespace vok::sim
