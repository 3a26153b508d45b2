#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

struct Baseline;
struct ResultsDeployment;
namespace YAML {
class Emitter;
}

// The results file and its upload.
//
// A results file is the YAML document (maps BaselineInfo, Version, Results,
// SystemInformation), then "\nChecksum: " and the 40 upper-case hexadecimal
// digits of SHA-1 over the document followed by the checksum key; it has no
// line break at its end. Uploading sends it by FTP to the results FTP server
// and then announces its name to the results server by an HTTPS GET, whose
// reply carries the ids of the results page.
//
// None of these functions takes a lock: the caller runs one save-and-upload
// at a time and no test run alongside it.

// Writes the results file to path (created or replaced). Refreshes
// baseline.timeStamp whenever the file could be opened. True when the whole
// file reached the file system; false, with one line on standard error, when
// it could not be opened or written. A failed write leaves nothing behind and
// a file that was at path before stays as it was: the file is written as
// path + ".part" and renamed to path once whole.
bool writeBaselineFile(Baseline& baseline, const std::string& path);

// Each appends one top-level entry (key and block map) to an open top-level
// map and returns the emitter.
YAML::Emitter& emitBaselineInfo(YAML::Emitter& out, const Baseline& baseline);
YAML::Emitter& emitVersion(YAML::Emitter& out, const Baseline& baseline);
YAML::Emitter& emitResults(YAML::Emitter& out, const Baseline& baseline);
YAML::Emitter& emitSystemInformation(YAML::Emitter& out, const Baseline& baseline);

// Names the file "/BL_<timeStamp before this save><0-999>.vx" inside
// directory, writes, uploads and registers it, and stores dbId and
// filenameSalt from the reply. True only when all steps succeeded; on any
// failure the ids are unchanged (a file already written stays). Both
// transfers use the deployment in force when the call starts.
bool saveAndUploadBaseline(Baseline& baseline, const std::string& directory);

// Uploads the file at path to the results FTP server under its own name.
// True on a completed transfer. Without a deployment: the one in force.
bool uploadBaselineFtp(Baseline& baseline, const std::string& path);
bool uploadBaselineFtp(Baseline& baseline, const std::string& path,
                       const ResultsDeployment& deployment);

// Announces the uploaded file to the results server. True when the transfer
// completed and the reply is an acceptance; then dbId and filenameSalt take
// the reply's values (each keeps its value when its label is missing). A
// transfer that fails in any way (cut off, timed out, reply over the size
// limit) gives false and leaves both ids unchanged, whatever part of the
// reply arrived. Without a deployment: the one in force.
bool registerBaselineUpload(Baseline& baseline, const std::string& path);
bool registerBaselineUpload(Baseline& baseline, const std::string& path,
                            const ResultsDeployment& deployment);

// The registration reply as it arrives, and the most bytes it may hold.
struct ReplyBuffer {
    std::string text;
    std::size_t limit;
};

// libcurl write callback: appends size * count bytes to the ReplyBuffer that
// reply points to. Returns size * count, or 0 when the text cannot grow:
// memory exhausted, or the text would exceed its limit (libcurl then ends the
// transfer with a write error; the text keeps what it held).
std::size_t curlWriteToString(char* data, std::size_t size, std::size_t count, void* reply);

// The results-page address: https://<results host>/baselines/V10/display.php?id=
// followed by dbId and filenameSalt as "%05d".
std::string makeDisplayUrl(const Baseline& baseline);

// --- Steps of the above, exposed for their tests ---------------------------

// The document text exactly as the file holds it before the checksum line.
std::string makeBaselineDocument(const Baseline& baseline);

// 40 upper-case hexadecimal digits of SHA-1 over document followed by the
// checksum key.
std::string baselineChecksum(const std::string& document);

// The random part of the file name: reads 32-bit values from the random
// device, keeps their low 10 bits and draws again while the value is above
// 999. -1 when the device gives out before a value was found.
int drawFileNumber(std::istream& randomDevice);

// "/BL_" + timeStamp + number + ".vx", no separators.
std::string baselineFileName(std::uint64_t timeStamp, int number);

// The part of path after its last '/', the whole path if it has none.
std::string fileNameOf(const std::string& path);

// The ids that a registration reply carries. accepted: the reply is at least
// 13 characters long, holds "Success: true" and every label in it is followed
// by a decimal 32-bit integer. dbId and filenameSalt start at the values
// given and take the last value of their label.
struct RegistrationReply {
    bool accepted;
    std::int32_t dbId;
    std::int32_t filenameSalt;
};
RegistrationReply parseRegistrationReply(const std::string& reply, std::int32_t dbId,
                                         std::int32_t filenameSalt);
