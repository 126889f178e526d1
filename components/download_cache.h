#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "system/result.h"
#include "system/unique_handle.h"

// The download cache: what downloads bring is written to an entry of the
// cache as it arrives, so that a run that ends part-way leaves its bytes for
// the next run to resume, and a component whose installation failed is not
// fetched again. An entry is named by the component's size and digests,
// never by a URL or a name, so it can only ever be that file, and it is used
// only after the checks of a fresh download.
//
// Each entry is "<key>.bin" (the bytes, whole or in part), "<key>.tag" (the
// validator the server gave them, for If-Range) and, while a run has claimed
// it, "<key>.lock", held open by that run alone and gone with it: a second
// launcher, in another session or as another user, fetches its own copy.
namespace Component {

struct Record;

// One run's claim on a component's entry.
struct CacheEntry {
  std::wstring file;       // "<cache>\<key>.bin"
  std::wstring validator;  // what the server named the kept bytes by; empty when unknown
  UniqueFile claim;        // "<key>.lock", open without sharing and deleted on close
};

// How many days an entry stays without being used.
inline constexpr int kCacheDays = 30;

// The entry of the component: its path and whether it may be used. Nothing
// when the component has neither an MD5 nor a SHA-256, or there is no cache.
std::optional<std::wstring> CacheFileOf(const Record& component);

// Claims the component's entry for this run. Nothing when it has none
// (CacheFileOf), or when another launcher has claimed it (logged "<entry> is
// being fetched by another launcher: this run fetches its own copy"). Kept
// bytes that are a link, one of several hard links, or more than the
// component's size are deleted first (logged as DropCacheEntry does).
std::optional<CacheEntry> ClaimCacheEntry(const Record& component);

// The bytes the entry holds; 0 when none.
DWORD KeptBytes(const CacheEntry& entry);

// Records the validator that the kept bytes came with, when it changed.
void KeepValidator(CacheEntry& entry, const std::wstring& validator);

// Deletes the entry's bytes and validator, logged "Component::DropCacheEntry
// - deleted <file>", never through a link.
void DropCacheEntry(const CacheEntry& entry);

// Deletes every entry that no run has used for kCacheDays and no run has
// claimed, each logged "Component::PruneCache - deleted <file>, unused for 30
// days". Does nothing without a cache.
void PruneCache();

// What the cache holds of the component, for a report: nothing when it has
// no entry or the entry holds nothing; otherwise the bytes it holds. Changes
// nothing.
std::optional<ULONGLONG> CachedBytes(const Record& component);

}  // namespace Component
