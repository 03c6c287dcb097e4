#pragma once
// The thirteen fixed fields of a request context, described once. Everything that lists
// them (the debug text, make_ctx's keys and messages, batch columns, exposure events, lint)
// walks this table in an order derived from it, so a field is added, renamed or moved here
// and nowhere else. The orders are fixed by what users and downstream readers already see:
// texts and messages are compared byte for byte, so each rank below is part of the format.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "context/context.h"

namespace orvane {

// What a fixed field holds. The Context member's type says the same; the table's
// constructors below take it from there, so the two cannot disagree.
enum class FieldValue : uint8_t { String, Bool, Int32, Int64 };

// Where a field goes in an exposure event: the record that carries it and its key within
// that record, both numbers of the event's wire format. A record is written only when its
// field of lowest key is present; the others ride along when they are present too.
struct EventPlace {
  uint16_t record = 0;  // 0: the field is not sent
  uint16_t key = 0;
  // Sent only when it reads as a UUID, in that UUID's canonical text.
  bool as_uuid = false;
};

struct FixedFieldInfo {
  std::string_view name;
  FixedField field;
  FieldValue value;
  // The member that holds the field: the one of these that matches `value`; the others
  // are null.
  std::optional<std::string> Context::*text;
  std::optional<bool> Context::*flag;
  std::optional<int32_t> Context::*int32;
  std::optional<int64_t> Context::*int64;
  // Rank in the debug text, which shows the members in their declaration order.
  uint8_t shown;
  // Rank among make_ctx's keys: the order they are read in and their messages appear,
  // which batch columns follow too.
  uint8_t read;
  EventPlace event;
};

namespace field_table {

struct Ranks {
  uint8_t shown;
  uint8_t read;
};

// One row: the member's type decides the value kind and which member slot is set.
template <class T>
constexpr FixedFieldInfo field(std::string_view name, FixedField id,
                               std::optional<T> Context::*member, Ranks ranks,
                               EventPlace event = {}) {
  FixedFieldInfo info{name, id, FieldValue::String, nullptr, nullptr, nullptr, nullptr,
                      ranks.shown, ranks.read, event};
  if constexpr (std::is_same_v<T, std::string>) {
    info.text = member;
  } else if constexpr (std::is_same_v<T, bool>) {
    info.value = FieldValue::Bool;
    info.flag = member;
  } else if constexpr (std::is_same_v<T, int32_t>) {
    info.value = FieldValue::Int32;
    info.int32 = member;
  } else {
    static_assert(std::is_same_v<T, int64_t>, "a context field holds text, a flag or an integer");
    info.value = FieldValue::Int64;
    info.int64 = member;
  }
  return info;
}

}  // namespace field_table

inline constexpr size_t kFixedFieldCount = static_cast<size_t>(FixedField::Other);

// In FixedField order, which is also the order names are guessed from in lint hints.
// Event places: 107 the app, 108 the platform, 109 the request, 112 the user, 500 the
// geolocation record.
inline constexpr std::array<FixedFieldInfo, kFixedFieldCount> kFixedFields = {{
    // name, id, member, {shown rank, read rank}, event place
    field_table::field("user_id", FixedField::UserId, &Context::user_id, {0, 0}, {112, 1}),
    field_table::field("device_id", FixedField::DeviceId, &Context::device_id, {3, 2},
                       {108, 2, true}),
    field_table::field("canonical_url", FixedField::CanonicalUrl, &Context::canonical_url,
                       {4, 3}, {109, 17}),
    field_table::field("locale", FixedField::Locale, &Context::locale, {1, 1}, {107, 6}),
    field_table::field("country_code", FixedField::CountryCode, &Context::country_code, {2, 4},
                       {500, 1}),
    field_table::field("origin_service", FixedField::OriginService, &Context::origin_service,
                       {5, 5}),
    field_table::field("app_name", FixedField::AppName, &Context::app_name, {8, 8}, {107, 2}),
    field_table::field("user_is_employee", FixedField::UserIsEmployee,
                       &Context::user_is_employee, {6, 6}, {112, 16}),
    field_table::field("logged_in", FixedField::LoggedIn, &Context::logged_in, {7, 7}, {112, 3}),
    field_table::field("build_number", FixedField::BuildNumber, &Context::build_number, {9, 9},
                       {107, 4}),
    field_table::field("cookie_created_timestamp", FixedField::CookieCreatedTimestamp,
                       &Context::cookie_created_timestamp, {11, 11}, {112, 4}),
    field_table::field("loid_created_timestamp", FixedField::LoidCreatedTimestamp,
                       &Context::loid_created_timestamp, {12, 12}),
    field_table::field("oauth_client_id", FixedField::OauthClientId, &Context::oauth_client_id,
                       {10, 10}),
}};

// The free-form map comes after every fixed field, in the debug text and among make_ctx's
// keys alike.
inline constexpr std::string_view kOtherFieldsName = "other_fields";

constexpr const FixedFieldInfo& fixed_field_info(FixedField field) {
  return kFixedFields[static_cast<size_t>(field)];
}

namespace field_table {

template <class T>
FieldView view_member(const std::optional<T>& value) {
  if (!value) return std::monostate{};
  if constexpr (std::is_same_v<T, std::string>) {
    return std::string_view(*value);
  } else if constexpr (std::is_same_v<T, bool>) {
    return *value;
  } else {
    return static_cast<int64_t>(*value);
  }
}

}  // namespace field_table

// A fixed field's value, borrowed from the context: view_field for every field but Other.
// Inline, since targeting reads one at every leaf of every tree it walks.
inline FieldView view_fixed_field(FixedField field, const Context& ctx) {
  const FixedFieldInfo& info = fixed_field_info(field);
  switch (info.value) {
    case FieldValue::String: return field_table::view_member(ctx.*info.text);
    case FieldValue::Bool: return field_table::view_member(ctx.*info.flag);
    case FieldValue::Int32: return field_table::view_member(ctx.*info.int32);
    case FieldValue::Int64: return field_table::view_member(ctx.*info.int64);
  }
  return std::monostate{};
}

namespace field_table {

// The fields sorted by one rank column; a rank that is missing or repeated leaves Other in
// its place, which covers_each_field below rejects at compile time.
constexpr std::array<FixedField, kFixedFieldCount> by_rank(uint8_t FixedFieldInfo::*rank) {
  std::array<FixedField, kFixedFieldCount> order{};
  order.fill(FixedField::Other);
  for (const FixedFieldInfo& info : kFixedFields) {
    const size_t at = info.*rank;
    if (at >= kFixedFieldCount || order[at] != FixedField::Other) return order;
    order[at] = info.field;
  }
  return order;
}

constexpr size_t sent_count() {
  size_t count = 0;
  for (const FixedFieldInfo& info : kFixedFields) count += info.event.record != 0 ? 1 : 0;
  return count;
}

constexpr bool event_before(const EventPlace& a, const EventPlace& b) {
  return a.record != b.record ? a.record < b.record : a.key < b.key;
}

// The sent fields by record, then by key within the record: the order of the event
// document, whose readers expect its keys ascending.
constexpr std::array<FixedField, sent_count()> by_event_place() {
  std::array<FixedField, sent_count()> order{};
  size_t size = 0;
  for (const FixedFieldInfo& info : kFixedFields) {
    if (info.event.record == 0) continue;
    size_t at = size++;
    for (; at > 0 && event_before(info.event, fixed_field_info(order[at - 1]).event); --at) {
      order[at] = order[at - 1];
    }
    order[at] = info.field;
  }
  return order;
}

template <size_t N>
constexpr bool covers_each_field(const std::array<FixedField, N>& order) {
  std::array<bool, kFixedFieldCount> seen{};
  for (FixedField field : order) {
    const size_t at = static_cast<size_t>(field);
    if (at >= kFixedFieldCount || seen[at]) return false;
    seen[at] = true;
  }
  return true;
}

constexpr bool rows_in_enum_order() {
  for (size_t i = 0; i < kFixedFieldCount; ++i) {
    if (static_cast<size_t>(kFixedFields[i].field) != i) return false;
  }
  return true;
}

constexpr bool event_places_distinct(const std::array<FixedField, sent_count()>& order) {
  for (size_t i = 1; i < order.size(); ++i) {
    if (!event_before(fixed_field_info(order[i - 1]).event, fixed_field_info(order[i]).event)) {
      return false;
    }
  }
  return true;
}

}  // namespace field_table

// The debug text's order (the Context members' declaration order).
inline constexpr std::array<FixedField, kFixedFieldCount> kShownOrder =
    field_table::by_rank(&FixedFieldInfo::shown);
// make_ctx's order of keys and messages, and of batch columns.
inline constexpr std::array<FixedField, kFixedFieldCount> kReadOrder =
    field_table::by_rank(&FixedFieldInfo::read);
// The exposure event's order of the fields it carries.
inline constexpr auto kEventOrder = field_table::by_event_place();

static_assert(field_table::rows_in_enum_order(), "kFixedFields is indexed by FixedField");
static_assert(field_table::covers_each_field(kShownOrder), "shown ranks must be 0..12, once each");
static_assert(field_table::covers_each_field(kReadOrder), "read ranks must be 0..12, once each");
static_assert(field_table::event_places_distinct(kEventOrder),
              "two fields share one place in the event");

// The Context member of a fixed field known at compile time, const when `ctx` is: for code
// that is unrolled over an order and should read each member as directly as if named.
template <FixedField Field, class Ctx>
constexpr auto& member_of(Ctx& ctx) {
  constexpr const FixedFieldInfo& info = fixed_field_info(Field);
  if constexpr (info.value == FieldValue::String) {
    return ctx.*info.text;
  } else if constexpr (info.value == FieldValue::Bool) {
    return ctx.*info.flag;
  } else if constexpr (info.value == FieldValue::Int32) {
    return ctx.*info.int32;
  } else {
    return ctx.*info.int64;
  }
}

// The names in FixedField order, for lookups and guesses that take a list of texts.
inline constexpr std::array<std::string_view, kFixedFieldCount> kFixedFieldNames = [] {
  std::array<std::string_view, kFixedFieldCount> names{};
  for (size_t i = 0; i < kFixedFieldCount; ++i) names[i] = kFixedFields[i].name;
  return names;
}();

}  // namespace orvane
