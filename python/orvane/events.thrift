/*
 * Exposure events of the Orvane decision engine.
 *
 * orvane.event_documents(decision) and the "document" of an orvane.ExposureLog record
 * hold one `Event` each, written in Apache Thrift's JSON protocol (TJSONProtocol): field
 * numbers as keys, type tags "str", "i32", "i64", "tf", "rec". Read them with any Thrift
 * library's JSON protocol and the code it generates from this file, for example
 *
 *     thrift --gen py events.thrift
 *
 * Every field is optional: the engine writes a record of the request only when the
 * request's context had the facts it holds, and leaves out absent facts. The fields
 * always written are marked so.
 */

namespace py orvane_events
namespace java orvane.events

/** The client application the request came from. Written when the context has app_name. */
struct App {
  /** The context's app_name. Always written. */
  2: optional string name
  /** The context's build_number. */
  4: optional i32 build_number
  /** The context's locale, e.g. "en-US". */
  6: optional string locale
}

/** The device. Written when the context's device_id is a UUID (in any of its usual forms). */
struct Platform {
  /** The device_id as a lower-case hyphenated UUID. Always written. */
  2: optional string device_id
}

/** The request. Written when the context has canonical_url. */
struct Request {
  /** The context's canonical_url. Always written. */
  17: optional string canonical_url
}

/** The user. Written when the context has user_id. */
struct User {
  /** The context's user_id. Always written. */
  1: optional string id
  /** The context's logged_in. */
  3: optional bool logged_in
  /** The context's cookie_created_timestamp. */
  4: optional i64 cookie_created_timestamp
  /** The context's user_is_employee. */
  16: optional bool is_employee
}

/** The feature the request was exposed to, and how. All fields always written. */
struct Experiment {
  /** The record's id. */
  1: optional i64 id
  /** The feature's name: the record's "name", not its key in the file. */
  2: optional string name
  /** The record's owner. */
  3: optional string owner
  /** The variant the request got. */
  4: optional string variant
  /** The record's start_ts, as configured. */
  5: optional i64 start_ts
  /** The record's stop_ts, as configured. */
  6: optional i64 stop_ts
  /** The name of the context field the feature buckets by (its bucket_val). */
  7: optional string bucket_field
  /** The record's experiment_version, as decimal text. */
  8: optional string version
  /** The value of the bucketing field in the request: text as it is, other values as
   *  compact JSON (a build_number of 12 gives "12"). */
  9: optional string identifier
  /** True when an override assigned the variant, false when bucketing (or a holdout or
   *  mutually exclusive group passing on its exposure) did. */
  10: optional bool is_override
}

/** Where the request came from. Written when the context has country_code. */
struct Geo {
  /** The context's country_code. Always written. */
  1: optional string country_code
}

/** One exposure. The events of one decision share client_timestamp, batch_id and the
 *  request's records; they differ in uuid and experiment. */
struct Event {
  /** "experiment". Always written. */
  1: optional string source
  /** "expose". Always written. */
  2: optional string action
  /** The name of the bucketing field, as in experiment.bucket_field. Always written. */
  3: optional string noun
  /** When the decision was made: milliseconds since 1970-01-01T00:00:00Z. Always written. */
  5: optional i64 client_timestamp
  /** A random version-4 UUID of this event. Always written. */
  6: optional string uuid
  /** A random version-4 UUID shared by the events of one decision. Always written. */
  8: optional string batch_id
  107: optional App app
  108: optional Platform platform
  109: optional Request request
  112: optional User user
  /** Always written. */
  129: optional Experiment experiment
  500: optional Geo geo
}
