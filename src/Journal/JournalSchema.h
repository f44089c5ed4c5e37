#pragma once

// The play journal's tables, shared by the program that writes them and the tool that reads them. Times are
// UTC milliseconds since 1970 with the local offset (seconds) of that moment beside them.
namespace JournalSchema {

// WAL: the reader never blocks the writer; NORMAL: a commit survives a killed program (only a power loss may
// take the last commits).
inline constexpr const char* Pragmas = "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;";

inline constexpr const char* Tables = R"(
CREATE TABLE IF NOT EXISTS displays(
    id INTEGER PRIMARY KEY, name TEXT NOT NULL, output TEXT NOT NULL, manufacturer TEXT NOT NULL,
    model TEXT NOT NULL, serial TEXT NOT NULL, UNIQUE(name, output, manufacturer, model, serial));
CREATE TABLE IF NOT EXISTS vitrelles(id TEXT PRIMARY KEY, name TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS plays(
    id INTEGER PRIMARY KEY, display INTEGER NOT NULL, vitrelle TEXT NOT NULL, slide TEXT NOT NULL,
    slide_type TEXT NOT NULL, appeared_ms INTEGER NOT NULL, utc_offset_s INTEGER NOT NULL,
    duration_ms INTEGER NOT NULL, ended TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS plays_by_time ON plays(appeared_ms);
CREATE TABLE IF NOT EXISTS misses(
    id INTEGER PRIMARY KEY, display INTEGER NOT NULL, vitrelle TEXT NOT NULL, slide TEXT NOT NULL,
    at_ms INTEGER NOT NULL, utc_offset_s INTEGER NOT NULL, reason TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS misses_by_time ON misses(at_ms);
CREATE TABLE IF NOT EXISTS power(
    id INTEGER PRIMARY KEY, display INTEGER NOT NULL, command TEXT NOT NULL, origin TEXT NOT NULL,
    outcome TEXT NOT NULL, reply TEXT NOT NULL, at_ms INTEGER NOT NULL, utc_offset_s INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS power_by_time ON power(at_ms);
CREATE TABLE IF NOT EXISTS updates(
    id INTEGER PRIMARY KEY, vitrelle TEXT NOT NULL, outcome TEXT NOT NULL, files INTEGER NOT NULL,
    bytes INTEGER NOT NULL, message TEXT NOT NULL, at_ms INTEGER NOT NULL, utc_offset_s INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS updates_by_time ON updates(at_ms);
CREATE TABLE IF NOT EXISTS runs(
    id INTEGER PRIMARY KEY, event TEXT NOT NULL, after_crash INTEGER NOT NULL, at_ms INTEGER NOT NULL,
    utc_offset_s INTEGER NOT NULL);
PRAGMA user_version = 1;
)";

// Each deletes the rows older than ?1 (UTC milliseconds).
inline constexpr const char* PruneStatements[] = {
    "DELETE FROM plays WHERE appeared_ms < ?1", "DELETE FROM misses WHERE at_ms < ?1",
    "DELETE FROM power WHERE at_ms < ?1", "DELETE FROM updates WHERE at_ms < ?1",
    "DELETE FROM runs WHERE at_ms < ?1"};

} // namespace JournalSchema
