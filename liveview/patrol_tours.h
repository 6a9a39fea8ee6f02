// Patrol tours: the named sequences of cameras that the pane patrol and the
// decoder patrol play, their file Config/PatrolInfo.xml, and the read
// interface through which those players reach the one in-memory list (the
// patrol settings page owns it and registers it).
#pragma once

#include "core/devinfo.h" // TextSize

#include <cstddef>
#include <list>
#include <string>
#include <string_view>
#include <vector>

// One point of a tour; a plain record, zero-filled, copied whole.
struct PatrolPoint {
    // Decoder layout as decimal text: "0" one pane, "1" four, "9" nine, "16"
    // sixteen. Empty in player-screen tours (that is how their points are
    // told apart in memory).
    char DispMode[TextSize(128)];
    // Seconds on screen, decimal text.
    char StayTime[TextSize(128)];
    // DevName[k] is the device of pane k+1 (DevName1..DevName16 in the file).
    // Player-screen tours use DevName[0] only, the bare device name; decoder
    // entries are "<name>:MainStream" or "<name>:SubStream" (room for the
    // suffix after a name of the file's full width).
    char DevName[16][TextSize(256) + 16];
};

struct PatrolTour {
    // "Player-N", "PlayerExK-N" or a decoder's DevName.
    char name[TextSize(256)];
    std::vector<PatrolPoint> points;
};

// Widths of the file's fields: texts are cut to them (in the file's
// encoding, at a character) when read and when saved.
constexpr std::size_t kPatrolNameWidth = 255;
constexpr std::size_t kPatrolValueWidth = 127;

inline constexpr char kPatrolFileName[] = "PatrolInfo.xml";
// What a missing file is created with.
extern const char kPatrolTemplate[];

// Splits a stored entry into the device name and its stream.
// -1: an argument missing (nothing written). -2: no ':' after the first
// character: name is the whole text, *isSubStream 1. 0: name is the text
// before the last ':' and *isSubStream 0 for "MainStream", 1 for
// "SubStream"; any other suffix gives the whole text and 0.
// nameSize: the size of name (sizeof PatrolPoint::DevName[0] holds every entry).
int ParseStreamName(const char* text, char* name, int* isSubStream, std::size_t nameSize = TextSize(256) + 16);

// True for the names of the local grids' panes: "Player-N" and
// "PlayerExK-N", N 1..64, K 1..3, written exactly so.
bool IsPlayerTourName(std::string_view name);

// text cut so that its form in the file takes at most width bytes, before a
// character that would not fit.
std::string CutToFileWidth(std::string_view utf8, std::size_t width);
// A device entry as a point keeps it: the name part cut to the file's width,
// a stream suffix kept.
std::string CutDeviceEntry(std::string_view entry);

// Reads the file into tours (emptied first): 0 when it was read; -1 when it
// could not be (a missing or damaged file is replaced by the template, the
// damaged one kept aside, see LoadOrWriteTemplate). At most kMaxRecords
// tours and kMaxNestedRecords points are taken.
int LoadPatrolFile(const std::string& path, std::list<PatrolTour>& tours);

enum class PatrolSave {
    Written,    // the file holds the change
    Unchanged,  // removal of a tour the file did not hold
    LoadFailed, // the file could not be read ("Failed to load file, <path>" logged)
    WriteFailed // it could not be written (logged); the file is as it was
};

// Replaces the file's first Patrol element named as tour by the tour, which
// goes last under the root. A missing file is created from the template
// first, a root added when the file has none.
PatrolSave SavePatrolTour(const std::string& path, const PatrolTour& tour);
// Removes the file's first Patrol element named name.
PatrolSave RemovePatrolTour(const std::string& path, const std::string& name);

// How the players read the tours (UI thread only). The patrol settings page
// registers itself when its window is made and withdraws when it goes;
// until then, and after, there are no tours.
class IPatrolTours {
public:
    virtual ~IPatrolTours() = default;
    virtual const std::list<PatrolTour>& Tours() const = 0;
};

// null withdraws; a page withdraws only itself.
void SetPatrolTours(IPatrolTours* source);
void WithdrawPatrolTours(IPatrolTours* source);
// The registered list, or an empty one.
const std::list<PatrolTour>& PatrolTours();
