#include "client/torrents/store_queue.h"

#include "client/base/wide_text.h"
#include "client/torrents/CTorrentListe.h"

#include <algorithm>
#include <system_error>

namespace client {
namespace {

bool IsInfoHashText(std::u16string_view text) {
  return text.size() == 40 && std::all_of(text.begin(), text.end(), [](char16_t c) {
           return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
         });
}

std::u16string Utf16(const std::string& ascii) { return AsciiToUtf16(ascii); }

std::string Ascii(std::u16string_view text) { return std::string(text.begin(), text.end()); }

}  // namespace

StoreQueue::Waiting* StoreQueue::Find(std::vector<Waiting>& list, const std::string& info_hash) {
  const auto it = std::find_if(list.begin(), list.end(), [&](const Waiting& w) { return w.info_hash == info_hash; });
  return it == list.end() ? nullptr : &*it;
}

const StoreQueue::Waiting* StoreQueue::Find(const std::vector<Waiting>& list, const std::string& info_hash) {
  return Find(const_cast<std::vector<Waiting>&>(list), info_hash);
}

void StoreQueue::SaveFailed(const std::string& info_hash, const std::wstring& name, const std::wstring& error) {
  Waiting* waiting = Find(m_saves, info_hash);
  if (!waiting) waiting = &m_saves.emplace_back(Waiting{info_hash, name});
  if (waiting->logged) return;
  waiting->logged = true;
  Log(name + L" waits for the store" + (error.empty() ? L"" : L": " + error));
}

void StoreQueue::Saved(const std::string& info_hash, const std::wstring& name) {
  std::erase_if(m_removals, [&](const Waiting& w) { return w.info_hash == info_hash; });
  const Waiting* waiting = Find(m_saves, info_hash);
  if (!waiting) return;
  const bool logged = waiting->logged;
  std::erase_if(m_saves, [&](const Waiting& w) { return w.info_hash == info_hash; });
  if (logged) Log(name + L" is in the store again");
}

bool StoreQueue::SaveWaits(const std::string& info_hash) const { return Find(m_saves, info_hash) != nullptr; }

void StoreQueue::RemovalWaits(const std::string& info_hash, const std::wstring& name) {
  std::erase_if(m_saves, [&](const Waiting& w) { return w.info_hash == info_hash; });
  std::erase_if(m_kept, [&](const KeptTorrent& k) { return k.info_hash == info_hash; });
  if (!Find(m_removals, info_hash)) m_removals.push_back({info_hash, name});
}

bool StoreQueue::CarryOutRemovals(const Finish& finish) {
  while (!m_removals.empty()) {
    const Waiting front = m_removals.front();
    std::wstring error;
    if (!finish(front.info_hash, error)) {
      for (Waiting& waiting : m_removals) {
        if (waiting.logged) continue;
        waiting.logged = true;
        const bool failed = &waiting == &m_removals.front() && !error.empty();
        Log(L"the removal of " + waiting.name + L" waits for the store" + (failed ? L": " + error : L""));
      }
      return false;
    }
    m_removals.erase(m_removals.begin());
    if (front.logged) Log(L"the removal of " + front.name + L" reached the store");
  }
  return true;
}

bool StoreQueue::RemovalWaits(const std::string& info_hash) const { return Find(m_removals, info_hash) != nullptr; }

bool StoreQueue::Read(const std::filesystem::path& file) {
  // A damaged file is set aside, as a damaged list file is, and what
  // could be read of it waits.
  Utf16IniFile ini;
  if (LoadListFile(file, ini, m_log) == ListFileRead::Failed) {
    m_unreadable = true;
    return false;
  }
  for (const auto& [key, value] : ini.Entries(kWaitingRemovalsSection)) {
    if (!IsInfoHashText(key) || Find(m_removals, Ascii(key))) continue;
    // Logged as waiting: the log says when the store takes it.
    m_removals.push_back({Ascii(key), Utf16ToWide(value), true});
  }
  for (const std::u16string& name : ini.SectionNames()) {
    if (!IsInfoHashText(name) || RemovalWaits(Ascii(name)) || FindKept(Ascii(name))) continue;
    const std::optional<std::u16string> path = ini.Get(name, kWaitingPathKey);
    if (!path || path->empty()) continue;
    KeptTorrent kept{Ascii(name), Utf16ToWide(*path), {}};
    const std::u16string section = EscapeSectionName(*path);
    for (const auto& [key, value] : ini.Entries(name))
      if (key != kWaitingPathKey) kept.section.Set(section, key, value);
    m_kept.push_back(std::move(kept));
  }
  return true;
}

const KeptTorrent* StoreQueue::FindKept(const std::string& info_hash) const {
  const auto it =
      std::find_if(m_kept.begin(), m_kept.end(), [&](const KeptTorrent& k) { return k.info_hash == info_hash; });
  return it == m_kept.end() ? nullptr : &*it;
}

void StoreQueue::Loaded(const std::string& info_hash, const std::wstring& name) {
  std::erase_if(m_kept, [&](const KeptTorrent& k) { return k.info_hash == info_hash; });
  // It was said to wait in the run that kept it.
  if (!Find(m_saves, info_hash)) m_saves.push_back({info_hash, name, true});
}

bool StoreQueue::Write(const std::filesystem::path& file,
                       const std::function<bool(const std::string&, Utf16IniFile&, std::wstring&)>& section) {
  if (m_unreadable) return false;
  Utf16IniFile ini;
  ini.StartListFile();
  const auto put = [&](const std::string& info_hash, const std::wstring& path, const Utf16IniFile& from) {
    const std::u16string name = Utf16(info_hash);
    ini.Set(name, kWaitingPathKey, WideToUtf16(path));
    for (const auto& [key, value] : from.Entries(EscapeSectionName(WideToUtf16(path)))) ini.Set(name, key, value);
  };
  std::size_t torrents = 0;
  for (const KeptTorrent& kept : m_kept) {
    put(kept.info_hash, kept.path, kept.section);
    ++torrents;
  }
  for (const Waiting& waiting : m_saves) {
    Utf16IniFile list;
    std::wstring path;
    if (!section(waiting.info_hash, list, path)) continue;
    put(waiting.info_hash, path, list);
    ++torrents;
  }
  for (const Waiting& removal : m_removals)
    ini.Set(kWaitingRemovalsSection, Utf16(removal.info_hash), WideToUtf16(removal.name));
  if (torrents == 0 && m_removals.empty()) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
    return !ec;
  }
  return ini.Save(file);
}

}  // namespace client
