#include "records.h"

#include <cstdint>
#include <ctime>

#include "answer_reading.h"
#include "log/posix_log_file.h"
#include "log/session_record.h"
#include "pattern.h"
#include "posix_host.h"
#include "text.h"

namespace lumo_cli {

namespace {

std::string Seconds(long long us) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6f", us < 0 ? 0.0 : us / 1e6);
    return buf;
}

std::string Json(const std::string& utf8) {
    return JsonString(FromUtf8OrLatin1(utf8));
}

std::string JsonOptional(const std::optional<std::u16string>& s) {
    return s ? JsonString(*s) : "null";
}

std::string ExpectText(const CommandRecord& r) {
    switch (r.expect) {
    case Expect::Pattern:
        return "/" + Excerpt(r.pattern) + "/";
    case Expect::Timeout:
        return "no answer";
    case Expect::Answer:
        break;
    }
    return "an answer";
}

} // namespace

const char* OutcomeName(session::SendOutcome outcome) {
    switch (outcome) {
    case session::SendOutcome::Answered:
        return "answered";
    case session::SendOutcome::AckedSilently:
        return "acked_silently";
    case session::SendOutcome::TimedOut:
        return "timed_out";
    case session::SendOutcome::RefusedTooLong:
        return "refused_too_long";
    case session::SendOutcome::NotRead:
        return "not_read";
    case session::SendOutcome::NoLink:
        return "no_link";
    }
    return "?";
}

std::u16string MatchSubject(const session::SendResult& result) {
    if (result.query && result.boxText)
        return *result.boxText;
    if (!result.status)
        return {};
    const std::u16string_view prefix = answer::kAckPrefix;
    const std::u16string& s = *result.status;
    return s.starts_with(prefix) ? s.substr(prefix.size()) : s;
}

void Judge(CommandRecord& r, const Pattern* re) {
    const session::SendOutcome o = r.result.outcome;
    const bool timedOut = o == session::SendOutcome::TimedOut;
    const bool answered = o == session::SendOutcome::Answered || o == session::SendOutcome::AckedSilently;
    r.passed = false;
    switch (r.expect) {
    case Expect::Answer:
        r.passed =
            !timedOut && o != session::SendOutcome::RefusedTooLong && o != session::SendOutcome::NoLink;
        break;
    case Expect::Timeout:
        r.passed = timedOut;
        break;
    case Expect::Pattern:
        r.passed = answered && re && PatternFound(*re, ToUtf8(MatchSubject(r.result)));
        break;
    }
    if (r.passed) {
        r.message.clear();
        return;
    }
    if (timedOut)
        r.message = "timed out; expected " + ExpectText(r);
    else if (o == session::SendOutcome::NotRead)
        r.message = "no answer is read for this command on this link; expected " + ExpectText(r);
    else if (!answered)
        r.message = std::string(OutcomeName(o)) + "; expected " + ExpectText(r);
    else
        r.message = "expected " + ExpectText(r) + ", got: " + OneLine(MatchSubject(r.result));
}

std::string ShownText(const session::SendResult& r) {
    std::string out;
    if (r.boxText)
        out = "[" + OneLine(r.boxCaption) + "] " + ReadableLine(*r.boxText);
    if (r.status && !r.status->empty())
        out += (out.empty() ? "" : "  ") + ReadableLine(*r.status);
    if (!out.empty())
        return out;
    switch (r.outcome) {
    case session::SendOutcome::AckedSilently:
        return "(acknowledged, nothing shown)";
    case session::SendOutcome::NotRead:
        return "(sent; no answer is read)";
    default:
        return "(nothing shown)";
    }
}

std::string JsonRecord(const CommandRecord& r, const std::string& link, bool verdict) {
    const session::SendResult& s = r.result;
    std::string out = "{\"command\":" + Json(r.text);
    out += ",\"link\":" + Json(link);
    out += ",\"frame\":\"" + session::HexBytes(s.sent) + "\"";
    out += ",\"answer\":\"" + session::HexBytes(s.answer) + "\"";
    out += ",\"status\":" + JsonOptional(s.status);
    out += ",\"caption\":" + (s.boxText ? JsonString(s.boxCaption) : std::string("null"));
    out += ",\"data\":" + JsonOptional(s.boxText);
    out += ",\"round_trip_ms\":" + (s.roundTripUs < 0 ? std::string("null") : session::RoundTripMs(s.roundTripUs));
    out += ",\"outcome\":\"" + std::string(OutcomeName(s.outcome)) + "\"";
    if (verdict) {
        out += ",\"line\":" + std::to_string(r.line) + ",\"round\":" + std::to_string(r.round);
        out += ",\"expect\":";
        out += r.expect == Expect::Pattern   ? Json(r.pattern)
               : r.expect == Expect::Timeout ? Json(kTimeoutWord)
                                             : std::string("null");
        out += ",\"passed\":" + std::string(r.passed ? "true" : "false");
        out += ",\"message\":" + (r.passed ? std::string("null") : Json(r.message));
    }
    return out + "}";
}

bool WriteJUnit(std::FILE* out, const std::string& suite, const std::string& link,
                const std::vector<CommandRecord>& records, double seconds) {
    int failures = 0;
    for (const CommandRecord& r : records)
        failures += r.passed ? 0 : 1;
    const session::LocalStamp t = session::posix_log::LocalTime(static_cast<int64_t>(std::time(nullptr)) * 1000);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    const std::string host = HostName();
    char total[32];
    std::snprintf(total, sizeof total, "%.3f", seconds);
    const std::string counts = " tests=\"" + std::to_string(records.size()) + "\" failures=\"" +
                               std::to_string(failures) + "\" errors=\"0\"";
    const std::string name = XmlEscape(OneLine(FromUtf8OrLatin1(suite)));
    // test cases are grouped by the file's base name without its extension
    std::string base =
        suite.substr(suite.find_last_of('/') == std::string::npos ? 0 : suite.find_last_of('/') + 1);
    if (const size_t dot = base.find_last_of('.'); dot != std::string::npos && dot > 0)
        base.resize(dot);
    const std::string className = XmlEscape(OneLine(FromUtf8OrLatin1(base)));

    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuites name=\"lumo run\"" + counts + " time=\"" + total + "\">\n";
    xml += "  <testsuite name=\"" + name + "\"" + counts + " skipped=\"0\" time=\"" + total +
           "\" timestamp=\"" + stamp + "\" hostname=\"" + XmlEscape(host) + "\">\n";
    xml += "    <properties>\n      <property name=\"link\" value=\"" + XmlEscape(OneLine(FromUtf8OrLatin1(link))) +
           "\"/>\n    </properties>\n";
    for (const CommandRecord& r : records) {
        std::string caseName = "line " + std::to_string(r.line) + ": " + OneLine(FromUtf8OrLatin1(r.text));
        if (r.round > 1)
            caseName += " (round " + std::to_string(r.round) + ")";
        xml += "    <testcase name=\"" + XmlEscape(caseName) + "\" classname=\"" + className + "\" time=\"" +
               Seconds(r.result.roundTripUs) + "\"";
        if (r.passed) {
            xml += "/>\n";
            continue;
        }
        const char* type = r.result.outcome == session::SendOutcome::TimedOut ? "timeout" : "mismatch";
        xml += ">\n      <failure message=\"" + XmlEscape(r.message) + "\" type=\"" + type + "\">";
        xml += XmlEscape("shown: " + ShownText(r.result) +
                         "\nanswer bytes: " + session::HexBytes(r.result.answer));
        xml += "</failure>\n    </testcase>\n";
    }
    xml += "  </testsuite>\n</testsuites>\n";
    return std::fwrite(xml.data(), 1, xml.size(), out) == xml.size() && std::fflush(out) == 0;
}

bool WriteCsv(std::FILE* out, const std::string& link, const std::vector<CommandRecord>& records) {
    std::string csv = "round,line,command,link,outcome,passed,round_trip_ms,status,caption,data,frame,answer,"
                      "expect,message\r\n";
    for (const CommandRecord& r : records) {
        const session::SendResult& s = r.result;
        const std::string fields[] = {
            std::to_string(r.round),
            std::to_string(r.line),
            OneLine(FromUtf8OrLatin1(r.text)),
            link,
            OutcomeName(s.outcome),
            r.passed ? "true" : "false",
            s.roundTripUs < 0 ? "" : session::RoundTripMs(s.roundTripUs),
            s.status ? OneLine(*s.status) : "",
            s.boxText ? OneLine(s.boxCaption) : "",
            s.boxText ? OneLine(*s.boxText) : "",
            session::HexBytes(s.sent),
            session::HexBytes(s.answer),
            r.expect == Expect::Pattern   ? r.pattern
            : r.expect == Expect::Timeout ? kTimeoutWord
                                          : "",
            r.message,
        };
        bool first = true;
        for (const std::string& f : fields) {
            csv += (first ? "" : ",") + session::CsvField(f);
            first = false;
        }
        csv += "\r\n";
    }
    return std::fwrite(csv.data(), 1, csv.size(), out) == csv.size() && std::fflush(out) == 0;
}

} // namespace lumo_cli
