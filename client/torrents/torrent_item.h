#pragma once
// One torrent as the desktop program keeps it: its engine torrent, the
// user's settings for it (priority, limits, seeding goal, peer ratio), the
// byte totals of earlier runs, its file path in the data folder (which names
// its list-file section, its .torrent and its side files) and the chart it
// is drawn as. Its window (the torrent's row) is a thin view over it: the
// view arms the row timer and repaints; everything else happens here.
//
// What the torrent tells the main window goes through TorrentEvents; the
// main window queues those calls and handles them later.

#include "client/common/chart_logic.h"
#include "client/torrents/torrent_control.h"
#include "client/torrents/torrent_status.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CTorrentDataTable;
class CTorrentDatabase;

namespace platform {
class file_batch;
}

namespace client {

class DhtControl;
class TorrentItem;
class Utf16IniFile;

class TorrentEvents {
 public:
  virtual ~TorrentEvents() = default;
  // The torrent started itself (Start with its post flag).
  virtual void TorrentStarted(TorrentItem& torrent, int status) = 0;
  // It stopped: seeding goal reached, or paused or queued by the user.
  virtual void TorrentStopped(TorrentItem& torrent, int status) = 0;
  // The user asked to remove it.
  virtual void RemoveTorrent(TorrentItem& torrent, int status) = 0;
  virtual void LogLine(std::wstring line) = 0;
};

// The torrent's window.
class TorrentView {
 public:
  virtual ~TorrentView() = default;
  // Starts the 500 ms row timer.
  virtual void ArmTimer() = 0;
  // Invalidates the window with erasing.
  virtual void Repaint() = 0;
  // Destroys the window; the torrent is going away.
  virtual void DestroyView() = 0;
};

// A window that shows the torrent apart from its row (its peers dialog):
// told when the torrent goes away, so that it forgets the torrent and closes.
class TorrentWatcher {
 public:
  virtual ~TorrentWatcher() = default;
  virtual void TorrentGone(TorrentItem& torrent) = 0;
};

// Totals of earlier runs and the title's display choice.
struct TorrentSettings {
  std::uint64_t uploadedBase = 0;    // "Uploaded"
  std::uint64_t downloadedBase = 0;  // "Downloaded"
  bool showState = false;            // "ShowState": the title shows stateSummary
  std::wstring stateSummary = L"...";
};

inline constexpr std::uint32_t kSeedingTimeUnset = 0xFFFFFFFF;
// No remaining-time estimate yet: the first one is taken as it is.
inline constexpr std::uint32_t kEtaUnset = 0xFFFFFFFF;
// How long a re-add waits for the engine to drop the torrent.
inline constexpr std::uint32_t kReAddTimeoutMs = 30000;
// The block size of every torrent the program adds.
inline constexpr int kReAddBlockSize = 0x4000;

// The side files beside a torrent's .torrent: its file path followed by
// these suffixes.
inline constexpr std::wstring_view kResumeDataSuffix = L".ResumeData";
inline constexpr std::wstring_view kFilterDataSuffix = L".FilterData";
inline constexpr std::wstring_view kLogFileSuffix = L".log.txt";
// The tracker of a torrent known by its info-hash whose store names none.
inline constexpr std::string_view kDefaultHashTracker = "http://127.0.0.1/announce";
// The row name of such a torrent in the store.
inline constexpr std::string_view kUnknownTorrentName = "Unkown";

// Ticks of the torrent's own timer (500 ms) between two tracker rotations
// (45 minutes).
inline constexpr std::uint32_t kTrackerRotationTicks = 5400;
// Ticks between two DHT peer hand-overs: 15 minutes while the torrent has
// peers, 2.5 minutes while it has none.
inline constexpr std::uint32_t kDhtTicksWithPeers = 1800;
inline constexpr std::uint32_t kDhtTicksWithoutPeers = 300;

// The user's priority: the queue starts the highest waiting torrent first.
// The values are those the list file and the store hold; a stored value
// that is none of these is kept as it was read.
enum class TorrentPriority : std::int32_t { Low = 0, Normal = 1, High = 2 };
// What ends seeding; stored and kept like the priority.
enum class SeedingMode : std::uint32_t { ByTime = 0, ByRatio = 1 };

// Bytes per second; -1: no limit.
struct TransferLimits {
  std::int32_t upload = -1;
  std::int32_t download = -1;
};

// When a seed stops, and the share ratio its peers are held to.
struct SeedingGoal {
  SeedingMode mode = SeedingMode::ByTime;
  std::uint32_t time = kSeedingTimeUnset;  // ms; 0 = forever
  double ratio = 1.0;
  double peer_ratio = 0.0;
};

// What a torrent does as one tick found it; its row shows it.
enum class TorrentActivity {
  Complete,        // stopped on its seeding goal
  Paused,          // paused by the user
  Failed,          // stopped by a failure, waiting for the user
  Waiting,         // paused, waiting in the queue
  QueuedForCheck,  // running, its files wait for the check
  Checking,
  Connecting,      // no tracker answered, no peer to show for it
  StillConnecting, // the same, with traffic: the row keeps what it showed
  Metadata,
  Downloading,
  Serving,         // all it wants is there (unwanted pieces missing)
  Seeding,
  Allocating,
  Unknown,         // a state the engine should not report
};

// What the row paints of a tick.
struct TorrentTick {
  engine::torrent_status status;
  TorrentActivity activity = TorrentActivity::Waiting;
  // The seeding goal's time text, when the goal gave one.
  std::optional<std::wstring> goal_text;
};

// A duration as the row's time text: "%u:%02u:%02u" up to 4 hours, "%uh"
// up to 24 hours, "%ud" beyond; with the cap, above 240 hours "oo".
std::wstring FormatDuration(std::uint32_t seconds, bool cap);

class TorrentItem {
 public:
  // `chart` is the chart the torrent feeds (its window's); without one the
  // torrent keeps a chart of its own.
  TorrentItem(std::wstring path, std::wstring title, TorrentEvents& events, ChartLogic* chart = nullptr);
  // Destroys the view.
  ~TorrentItem();
  TorrentItem(const TorrentItem&) = delete;
  TorrentItem& operator=(const TorrentItem&) = delete;

  // The engine it runs in and the store it lives in (none: the list file
  // and side files keep it).
  void SetSession(TorrentControl* session) { m_session = session; }
  TorrentControl* Session() const { return m_session; }
  void SetStore(CTorrentDatabase* store) { m_database = store; }
  CTorrentDatabase* Store() const { return m_database; }
  // The engine torrent it was added to the session as.
  void Attach(TorrentHandle handle) { m_handle = std::move(handle); }
  const TorrentHandle& Handle() const { return m_handle; }

  // The user's settings. Limits and the goal reach the engine at the next
  // ApplySettings.
  TorrentPriority Priority() const { return m_priority; }
  void SetPriority(TorrentPriority priority) { m_priority = priority; }
  const TransferLimits& Limits() const { return m_limits; }
  void SetLimits(const TransferLimits& limits) { m_limits = limits; }
  const SeedingGoal& Goal() const { return m_goal; }
  void SetSeedingGoal(const SeedingGoal& goal) { m_goal = goal; }
  // Tracker URLs of the "udp" scheme are handed to the engine as "bcudp".
  bool BitCometUdp() const { return m_bitCometUdp; }
  void SetBitCometUdp(bool on) { m_bitCometUdp = on; }
  // The totals of earlier runs and the title's display choice.
  const TorrentSettings& Settings() const { return m_settings; }
  void SetEarlierTotals(std::uint64_t uploaded, std::uint64_t downloaded);
  void SetShowState(bool show) { m_settings.showState = show; }
  void SetStateSummary(std::wstring summary) { m_settings.stateSummary = std::move(summary); }

  // Started by the queue (or the user) and not stopped since.
  bool IsStarted() const { return m_started; }
  // Stopped on its seeding goal for good ("Done").
  bool IsComplete() const { return m_complete; }
  // Paused by the user: the queue passes it by.
  bool IsUserPaused() const { return m_userPaused; }
  // Some pieces are not wanted (a file selection is in force).
  bool HasFilteredPieces() const { return m_hasFilteredPieces; }
  void SetHasFilteredPieces(bool has) { m_hasFilteredPieces = has; }
  // Its .torrent names DHT nodes to start from.
  bool HasDhtNodes() const { return m_hasDhtNodes; }
  void SetHasDhtNodes(bool has) { m_hasDhtNodes = has; }

  void SetView(TorrentView* view) { m_view = view; }
  TorrentView* View() const { return m_view; }
  // Watchers are told in the destructor, each once.
  void AddWatcher(TorrentWatcher* watcher);
  void RemoveWatcher(TorrentWatcher* watcher);
  // Tells the watchers now (the engine is about to stop) and forgets them.
  void ReleaseWatchers();
  // Has the view repaint.
  void Repaint();
  ChartLogic& Chart() { return *m_chart; }
  const ChartLogic& Chart() const { return *m_chart; }
  // The chart's status, a TorrentStatus.
  int Status() const { return m_chart->Status(); }
  void SetStatus(int status) { m_chart->SetStatus(status); }
  // The full path of the torrent's .torrent in the data folder.
  const std::wstring& Path() const { return m_chart->Path(); }
  // The part of the path after its last '/'.
  std::wstring FileName() const;

  // Starts the torrent: false when the user paused it or it cannot run
  // (then status Error and a log line). With `post` the main window hears
  // of it when the engine torrent was paused.
  bool Start(bool post);
  // The seeding goal was reached: the torrent pauses for good.
  void StopOnSeedingGoal();
  // Its files failed (a full disk): it stops with status Error, and the
  // main window hears of it when it was started (its slot is free). A
  // torrent added in this run that the engine dropped (refused) loses its
  // .torrent and side files.
  void StopOnFileError();
  // The menu's "Pause" and "Queue".
  void UserPause();
  void UserQueue();
  // The menu's "Resume": the user's pause ends and the torrent starts.
  bool UserResume();
  // The menu's "Remove": the main window removes the torrent.
  void RequestRemoval() { Post(&TorrentEvents::RemoveTorrent); }

  // Arm the seeding goal by time / by share ratio. Without `force` a stored
  // goal (a set time, any ratio) survives; the goal clock restarts either
  // way and the time gauge's full scale becomes the goal in force.
  void SetSeedingTime(std::uint32_t milliseconds, bool force);
  void SetSeedingRatio(double ratio, bool force);
  // Arms the goal of the torrent's own mode, by time or by ratio, without
  // force; false (nothing armed) for a stored mode that is neither.
  bool ArmSeedingGoal(std::uint32_t milliseconds, double ratio);
  void SetRateScale(double upload_scale, double download_scale);
  void SetTotalWanted(std::uint64_t bytes) { m_totalWanted = bytes; }
  std::uint64_t TotalWanted() const { return m_totalWanted; }
  std::int32_t RateScaleUp() const { return m_rateScaleUp; }
  std::int32_t RateScaleDown() const { return m_rateScaleDown; }
  // When the seeding goal was armed (TickMs()); 0: never.
  std::uint32_t SeedingStart() const { return m_seedingStart; }
  // The last tick found it finished or seeding.
  bool SeedingEntered() const { return m_seedingEntered; }
  // The tracker that leads at the next rotation.
  std::uint32_t TrackerRotation() const { return m_trackerRotation; }
  // The remaining-time estimate shown last, in seconds.
  std::uint32_t EtaSeconds() const { return m_etaSeconds; }
  bool HasUdpTracker() const { return m_hasUdpTracker; }
  // The settings came from a store (a list file section or rows).
  bool PeerRatioLoaded() const { return m_peerRatioLoaded; }
  // Loaded at start from the list file or the store, not added in this run.
  void MarkRestored() { m_restored = true; }
  bool IsRestored() const { return m_restored; }
  // Its window armed the 500 ms tick itself.
  void TimerArmedByView() { m_timerArmed = true; }

  // Hands the limits and the peer ratio to the engine and re-arms the goal
  // of a seed.
  void ApplySettings();
  // Tracker URLs starting with "udp" get "bc" in front while BitCometUdp()
  // is set; "bcudp" ones lose it while it is clear.
  void ApplyUdpTrackerScheme();
  // One login for all of the torrent's HTTP trackers; kept, so that it
  // survives a re-add.
  void SetTrackerLogin(const std::string& name, const std::string& password);

  // After a change of the file selection: removes the engine torrent and
  // adds it again with full allocation, its piece flags, resume data,
  // trackers, login and limits. The rest happens at later timer ticks
  // (StepReAdd): the engine drops the old torrent, the new one is added
  // and checked, then gets its piece flags and runs if the old one ran.
  // False when nothing was started.
  bool ReAdd();
  // Called at every timer tick. When the engine keeps the old torrent for
  // kReAddTimeoutMs, or the add fails, the re-add ends with status Error.
  // A torrent loaded with unwanted pieces waits here for its check in the
  // same way, then gets its piece flags.
  void StepReAdd();
  // A re-add, or the check of a loaded torrent, is under way; the torrent
  // runs only once it has its piece flags.
  bool ReAddPending() const { return m_readd.has_value(); }

  // The torrent leaves the list for good: its store rows, then its files.
  bool Remove();
  // Deletes the .torrent and the ".ResumeData", ".log.txt" and
  // ".FilterData" side files; true only when all four went.
  bool DeleteFiles();
  bool DeleteDatabaseRows();

  // A log line for the main window: the first 10 characters of the file
  // name, "...: ", the text.
  void Log(std::wstring_view text);
  // 40 upper-case hexadecimal digits.
  std::wstring GetInfoHashHex() const;

  // The engine torrent as the queue sees it; a torrent being re-added
  // counts as valid and as running when it will run again.
  bool IsValid() const;
  bool IsEnginePaused() const;
  void PauseEngine();
  // Started and running; false when the engine fails.
  bool IsActive() const;

  // Totals: the bases of earlier runs plus this run's payload.
  std::uint64_t DownloadedTotal(const engine::torrent_status& status) const;
  std::uint64_t UploadedTotal(const engine::torrent_status& status) const;
  // The seeding goal at a timer tick of a seed (engine state finished or
  // seeding); `status_before` is the status before this tick. Sets the
  // time gauge, stops the torrent when the goal is passed, and gives the
  // time text (none: the text stays).
  std::optional<std::wstring> SeedingGoalTick(const engine::torrent_status& status, int status_before);
  // One tick of the torrent's own 500 ms timer; `status` is its status read
  // for all torrents at once (an empty one: the engine no longer has it),
  // null: the tick asks the engine itself. A pending re-add moves on; a
  // torrent that is not started is held paused; the status follows the
  // engine; a seed tests its goal; a downloading torrent rotates its
  // trackers and is handed the DHT's peers (`dht`: the program's node, if
  // any). None when there is nothing to show: the engine no longer has the
  // torrent, or a re-add is pending. Never throws.
  std::optional<TorrentTick> Tick(DhtControl* dht, const std::optional<engine::torrent_status>* status = nullptr);
  // Every kTrackerRotationTicks calls another tracker of two or more leads
  // (tier 0), the others following in list order.
  void RotateTrackers();
  // Every `interval` calls the peers the DHT keeps for the torrent are
  // handed to the engine.
  void ConnectDhtPeers(DhtControl* dht, std::uint32_t interval);
  // The remaining-time estimate, smoothed: each new one counts 1/60
  // against what was shown; the first one is shown as it is.
  std::uint32_t SmoothEta(std::uint32_t seconds);

  // --- keeping the torrent across runs. Without a store its settings live
  // in its section of the list file and its engine state in side files;
  // with one (m_database) in the store's rows.

  // Reads the settings and adds the torrent to the session, paused. False
  // (nothing added) without a destination, with a file name that does not
  // start with 40 hexadecimal digits (a torrent known by info-hash), an
  // unreadable .torrent or an engine that refuses the torrent. Unreadable
  // resume data only costs a full check of the files. A torrent with
  // metadata is registered with the program's DHT node, if there is one.
  bool Load(const Utf16IniFile& ini, DhtControl* dht = nullptr);
  bool LoadFromListFile(const Utf16IniFile& ini, DhtControl* dht = nullptr);
  // The store's torrent_data buffer holds the torrent's row; its tracker,
  // resume data and piece selection are read here by the row's id.
  bool LoadFromDatabase(DhtControl* dht = nullptr);
  // Writes the settings and the engine state; with `pause` the engine
  // torrent is paused first. False (nothing written) without an engine
  // torrent, or when the store failed (logged).
  // With `batch` the side files are put in place when the batch commits.
  bool Save(Utf16IniFile& ini, bool pause, platform::file_batch* batch = nullptr);
  bool SaveToListFile(Utf16IniFile& ini, bool pause, platform::file_batch* batch = nullptr);
  bool SaveToDatabase(bool pause);
  // Updates the settings and totals of the torrent's row; `finished` marks
  // it finished, `with_nodes` stores its peers too. True at once without a
  // store, false when the row is missing or the update fails (logged).
  bool UpdateDatabaseRow(bool with_nodes, bool finished);

  // The store did not take what this torrent wrote (its server is away):
  // the log names the torrent, once, and its whole row is written at the
  // next save that reaches the server. `error` is the store's text.
  void StoreFailed(const std::wstring& error);
  // Its row in the store is behind: a write failed and no save since took.
  bool StoreWaits() const { return m_storeWaits; }
  // Its row holds its metainfo (so a save need not hand the bytes over).
  bool MetainfoStored() const { return m_metainfoStored; }
  void MarkMetainfoStored(bool stored) { m_metainfoStored = stored; }
  // A save of the list could not save this torrent: the log names it and
  // says why.
  void SaveFailed(std::wstring_view reason);
  // The peers ("ip", "port") of the resume data into the nodes table of
  // the row `torrent_id`: new addresses are added, changed ports updated.
  void StorePeerNodes(std::uint32_t torrent_id, const engine::entry& resume_data);
  // The engine torrent connects to every address the store keeps for it.
  void OnAddDbNodes();

  // The engine received the metadata of a torrent known by info-hash: it
  // becomes a .torrent, written to `target` (empty: the file path), or
  // stored in the store's row.
  void OnMetadataReceived(const std::wstring& target);
  bool WriteTorrentFile(const std::wstring& target);
  bool StoreMetadataInDatabase();
  // The .torrent for received metadata: the first tracker as "announce",
  // "comment", "created by", "creation date" (now) and "info". Empty
  // without metadata.
  std::string ReceivedTorrentFile() const;

  // Appends the line and CR LF to the UTF-16LE log file (the mark FF FE
  // starts a new one); failures are ignored.
  void AppendLogFile(std::wstring_view line);

 private:
  // What a re-add carries from the removed engine torrent to the new one.
  struct ReAddState {
    engine::torrent_metainfo info;  // read from the .torrent's bytes
    std::filesystem::path save_path;
    engine::entry resume_data;
    std::vector<bool> pieces;
    std::vector<engine::announce_entry> trackers;
    engine::torrent_status status;
    bool resume = false;  // run the new torrent
    std::uint32_t started_at = 0;
    bool added = false;  // the new torrent is in the session, being checked
  };
  struct TrackerLogin {
    std::string name, password;
  };
  // What a save writes of the engine torrent.
  struct EngineFacts {
    bool paused = true;
    bool metadata = false;
    bool seed = false;
    std::filesystem::path save_path;
    engine::torrent_status status;
  };

  void Post(void (TorrentEvents::*event)(TorrentItem&, int));
  // The tick's steps: what a paused and a running torrent does.
  TorrentActivity PausedActivity();
  TorrentActivity RunningActivity(TorrentTick& tick, DhtControl* dht);
  // The engine's state as the torrent counts it.
  std::int32_t EffectiveState(const engine::torrent_status& status) const;
  void ResumeEngine();
  // Pauses a running engine torrent and tells the main window.
  void PauseAndTell();
  void ApplyLimits();
  // The file path followed by `suffix` (none: the .torrent itself).
  std::filesystem::path SideFile(std::wstring_view suffix) const;
  bool ReadTorrentFile(std::string& bytes);
  void FailReAdd(std::wstring_view text);

  // Loading: the settings common to both stores are set; these add the
  // engine torrent, paused.
  bool AddWithMetadata(const std::string& torrent_file, const std::string& destination, std::string_view piece_map,
                       std::string_view resume_data, DhtControl* dht);
  bool AddByInfoHash(std::string_view hex_name, const std::string& tracker, const std::string& destination);
  // The status as stored: a running seed counts as downloading, so that it
  // starts again at the next run.
  int StoredStatus(bool engine_paused) const;
  // The seeding time as stored: what is left of the goal for a seed.
  std::uint32_t StoredSeedingTime(bool seed) const;
  // What a save writes of the engine torrent; while a re-add or a check is
  // pending it comes from what the torrent had before.
  EngineFacts Facts() const;
  engine::entry ResumeDataToStore() const;
  std::vector<bool> PiecesToStore() const;
  std::string TorrentName() const;
  // The row's name and the bytes wanted, from the torrent's metadata.
  void ShowMetainfo(const engine::torrent_metainfo& info);
  // The settings and totals of the torrent's row.
  void FillDatabaseRow(CTorrentDataTable& row, const EngineFacts& facts) const;
  // The metainfo for the store: the copy in the data folder when it is this
  // torrent's (`from_copy` says so), else made from the engine's.
  std::string MetainfoToStore(bool& from_copy) const;

  TorrentEvents& m_events;
  TorrentControl* m_session = nullptr;
  CTorrentDatabase* m_database = nullptr;  // non-null: the torrent lives in the store
  TorrentHandle m_handle;
  TorrentPriority m_priority = TorrentPriority::Normal;
  bool m_started = false;
  bool m_complete = false;  // seeding goal reached ("Done")
  bool m_userPaused = false;
  TransferLimits m_limits;
  SeedingGoal m_goal;
  bool m_hasFilteredPieces = false;
  bool m_hasDhtNodes = false;
  bool m_bitCometUdp = false;  // "BitCometUdpProtocol"
  TorrentSettings m_settings;
  bool m_metainfoStored = false;
  std::unique_ptr<ChartLogic> m_ownChart;
  ChartLogic* m_chart;
  TorrentView* m_view = nullptr;
  std::vector<TorrentWatcher*> m_watchers;
  std::optional<TrackerLogin> m_trackerLogin;
  std::optional<ReAddState> m_readd;
  bool m_storeWaits = false;
  bool m_reAdded = false;  // a re-add was started in this run
  bool m_restored = false;  // loaded at start from the list file or the store
  bool m_timerArmed = false;
  // The tick's own state.
  bool m_seedingEntered = false;  // the last tick saw it finished or seeding
  std::uint32_t m_trackerTicks = 0;
  std::uint32_t m_trackerRotation = 1;  // the tracker that leads next
  std::uint32_t m_dhtTicks = 0;
  std::uint32_t m_etaSeconds = kEtaUnset;
  std::uint32_t m_seedingStart = 0;  // TickMs() when the goal was armed
  std::uint64_t m_totalWanted = 0;
  std::int32_t m_rateScaleUp = -1;
  std::int32_t m_rateScaleDown = -1;
  bool m_peerRatioLoaded = false;
  bool m_hasUdpTracker = false;  // some tracker URL starts with "udp"
};

}  // namespace client
