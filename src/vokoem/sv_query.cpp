// The value query, the composite status and the hardware verification.
#include <cstring>
#include <initializer_list>

#include "sv_internal.h"
#include "sv_records.h"

namespace vok {

std::uint32_t bcd_timecode(std::int32_t position, std::int32_t rate) {
  if (rate == 0) return 0;
  const std::int64_t p = position, r = rate;
  const std::int64_t frames = p % r;
  const std::int64_t seconds = p / r;
  const std::int64_t fields[4] = {frames, seconds % 60, (seconds / 60) % 60, seconds / 3600};
  std::uint32_t word = 0;
  for (int i = 0; i < 4; ++i) {
    const std::int64_t v = fields[i];
    word |= (static_cast<std::uint32_t>((v / 10) * 16 + v % 10) & 0xFF) << (8 * i);
  }
  return word;
}

}  // namespace vok

using namespace vok;

namespace {

// Status requests: records of words, cleared, with no input beyond the header.
template <std::size_t Size>
struct status_record {
  orvello_header header;
  std::uint32_t rest[(Size - sizeof(orvello_header)) / 4];
  // The word at byte offset `offset` of the whole record.
  std::uint32_t at(std::size_t offset) const { return rest[(offset - 16) / 4]; }
};

template <std::size_t Size>
int send_status(sv_handle *sv, int code, status_record<Size> &record) {
  prepare(record);
  return sv_sys_call(sv, code, &record);
}

void fill_raster_block(std::int32_t *w, bool ok, const status_record<160> &pv,
                       const status_record<164> &pd) {
  if (!ok) {
    w[4] = 720;
    w[5] = 576;
    w[7] = 8;
    w[6] = 0;
    w[56] = 0;
    return;
  }
  w[2] = pv.at(20);
  w[4] = pv.at(44);
  w[5] = pv.at(48);
  w[6] = pv.at(24);
  w[7] = pd.at(80);
  w[56] = pv.at(28);
  w[57] = pv.at(92);
}

void fill_mode_block(std::int32_t *w, const status_record<128> &pm, const status_record<160> &pv) {
  // Status word and the byte offset of the mode record that feeds it.
  static constexpr struct {
    int word;
    std::size_t offset;
  } from_pm[] = {{8, 24},  {9, 72},  {10, 20}, {11, 76},  {12, 40},  {13, 44},  {14, 36},
                 {15, 32}, {16, 80}, {17, 100}, {18, 28}, {20, 48},  {21, 52},  {22, 56},
                 {23, 96}, {24, 92}, {27, 16}, {28, 112}, {29, 116}, {30, 120}, {31, 124}};
  for (const auto &row : from_pm) w[row.word] = static_cast<std::int32_t>(pm.at(row.offset));
  w[19] = (pm.at(16) >> 1) & 1;
  w[25] = pv.at(72);
  w[26] = 0;
}

void fill_device_block(std::int32_t *w, const status_record<164> &pd, const status_record<88> &pw,
                       const status_record<160> &pv) {
  const std::uint32_t cardtype = pd.at(60);
  w[3] = driver_to_devtype(static_cast<int>(cardtype));
  w[32] = static_cast<std::int32_t>((pd.at(52) * pd.at(24)) >> 10);
  w[33] = static_cast<std::int32_t>(pd.at(56) >> 20);
  w[34] = pd.at(24);
  w[35] = 1;
  w[36] = 0;
  w[37] = pd.at(152) != 0;
  w[38] = pd.at(108);
  w[39] = cardtype == 1 || cardtype == 5 || cardtype == 7 || cardtype == 17 || cardtype == 19 ||
          cardtype == 20;
  w[40] = cardtype == 2 || cardtype == 8;
  w[41] = pd.at(40);
  w[43] = 0;
  w[44] = pw.at(80);
  w[45] = pd.at(44);
  w[46] = pd.at(48);
  w[47] = 0;
  w[48] = pd.at(28);
  w[49] = pd.at(16);
  w[50] = pd.at(20);
  w[51] = pd.at(32);
  w[52] = pd.at(36);
  w[53] = 1;
  w[54] = pw.at(76);
  w[55] = 0;
  w[58] = w[59] = w[60] = 0;
  const std::uint64_t fps = pv.at(72);
  w[61] = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(pv.at(96) != 0 ? fps * 1000000 / 1001 : fps * 1000));
  w[62] = static_cast<std::int32_t>(bcd_timecode(static_cast<std::int32_t>(pd.at(28)),
                                                 static_cast<std::int32_t>(pd.at(88))));
  w[63] = 0;
}

}  // namespace

extern "C" {

int sv_query(sv_handle *sv, int cmd, int par, int *presult) {
  if (sv == nullptr) return SV_ERROR_SVNULL;
  int result = check_handle(sv);
  std::int32_t value = 0;
  if (result == SV_OK) {
    if (cmd == SV_QUERY_VERSION_VOKOEM) {
      value = library_packed_version;
    } else if (cmd == SV_QUERY_VALUE_AVAILABLE) {
      int inner = 0;
      value = sv_query(sv, par, 0, &inner) == SV_ERROR_NOTIMPLEMENTED ? 0 : 1;
    } else {
      orvello_query q;
      prepare(q);
      q.query = cmd;
      q.parameter = par;
      result = sv_sys_call(sv, ORVELLO_REQ_QUERY, &q);
      value = q.value;
    }
    if (presult != nullptr) *presult = value;
  }
  if (traces(sv, result)) {
    sv_trace(sv, "sv_query(sv,cmd=%d/%s,par=%d,*presult=%d/%08x) = %s\n", cmd, query_name(cmd), par,
             value, static_cast<unsigned>(value), errortext_lookup(result));
  }
  return result;
}

int sv_hwverify(sv_handle *sv, sv_hwverify_info *info) {
  if (sv == nullptr) return SV_ERROR_SVNULL;
  int result = check_handle(sv);
  if (result == SV_OK && info == nullptr) result = SV_ERROR_PARAMETER;
  if (result == SV_OK) {
    orvello_hwverify record;
    prepare(record);
    result = sv_sys_call(sv, ORVELLO_REQ_HWVERIFY, &record);
    info->version = 1;
    for (int i = 0; i < 5; ++i) info->result[i] = record.result[i];
  }
  if (traces(sv, result)) sv_trace(sv, "sv_hwverify(sv,) = %s\n", errortext_lookup(result));
  return result;
}

int sv_status(sv_handle *sv, sv_status_info *info) {
  if (sv == nullptr) return SV_ERROR_SVNULL;
  int result = check_handle(sv);
  if (result == SV_OK && info == nullptr) result = SV_ERROR_PARAMETER;
  status_record<160> pv{};
  status_record<128> pm{};
  status_record<164> pd{};
  status_record<88> pw{};
  if (result == SV_OK) {
    std::int32_t *w = info->word;
    w[0] = sizeof(sv_status_info);
    w[1] = 0;
    const int raster = send_status(sv, ORVELLO_REQ_STATUS_RASTER, pv);
    const int mode = send_status(sv, ORVELLO_REQ_STATUS_MODE, pm);
    const int device = send_status(sv, ORVELLO_REQ_STATUS_DEVICE, pd);
    const int words = send_status(sv, ORVELLO_REQ_STATUS_WORDS, pw);
    fill_raster_block(w, raster == SV_OK, pv, pd);
    if (mode == SV_OK) fill_mode_block(w, pm, pv);
    if (device == SV_OK) {
      fill_device_block(w, pd, pw, pv);
    } else {
      w[3] = 2;
    }
    w[42] = 1;
    for (int r : {device, mode, raster, words}) {
      if (r != SV_OK) {
        result = r;
        break;
      }
    }
  }
  if (traces(sv, result)) {
    sv_trace(sv, "sv_status(sv,info,%08x) = %s\n", pm.at(24), errortext_lookup(result));
  }
  return result;
}

}  // extern "C"
