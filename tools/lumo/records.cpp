#include "records.h"

#include <cstdint>
#include <ctime>

#include "answer_reading.h"
#include "log/posix_log_file.h"
#include "log/session_record.h"
#include "pattern.h"
#include "posix_file.h"
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

std::string JsonRecord(const CommandRecord& r, const std::string& link, bool verdict,
                       const std::string& target) {
    const session::SendResult& s = r.result;
    std::string out = "{";
    if (!target.empty())
        out += "\"target\":" + Json(target) + ",";
    out += "\"command\":" + Json(r.text);
    out += ",\"link\":" + Json(link);
    out += ",\"frame\":\"" + session::HexBytes(s.sent) + "\"";
    out += ",\"answer\":\"" + session::HexBytes(s.answer) + "\"";
    out += ",\"status\":" + JsonOptional(s.status);
    out += ",\"caption\":" + (s.boxText ? JsonString(s.boxCaption) : std::string("null"));
    out += ",\"data\":" + JsonOptional(s.boxText);
    out += ",\"round_trip_ms\":" +
           (s.roundTripUs < 0 ? std::string("null") : session::RoundTripMs(s.roundTripUs));
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

void JUnitCounts::Add(const JUnitCounts& other) {
    tests += other.tests;
    failures += other.failures;
    errors += other.errors;
    seconds += other.seconds;
}

namespace {

std::string CountAttributes(const JUnitCounts& c) {
    return " tests=\"" + std::to_string(c.tests) + "\" failures=\"" + std::to_string(c.failures) +
           "\" errors=\"" + std::to_string(c.errors) + "\"";
}

std::string TimeAttribute(double seconds) {
    char total[32];
    std::snprintf(total, sizeof total, "%.3f", seconds);
    return std::string(" time=\"") + total + "\"";
}

} // namespace

std::string JUnitStart(const JUnitCounts& counts) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"lumo run\"" +
           CountAttributes(counts) + TimeAttribute(counts.seconds) + ">\n";
}

std::string JUnitEnd() {
    return "</testsuites>\n";
}

std::string JUnitSuiteStart(const std::string& name, const std::string& link, const JUnitCounts& counts) {
    const session::LocalStamp t = session::posix_log::LocalTime(static_cast<int64_t>(std::time(nullptr)) * 1000);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    const std::string host = posix::HostName();
    return "  <testsuite name=\"" + XmlEscape(OneLine(FromUtf8OrLatin1(name))) + "\"" +
           CountAttributes(counts) + " skipped=\"0\"" + TimeAttribute(counts.seconds) + " timestamp=\"" +
           stamp + "\" hostname=\"" + XmlEscape(host) + "\">\n" +
           "    <properties>\n      <property name=\"link\" value=\"" +
           XmlEscape(OneLine(FromUtf8OrLatin1(link))) + "\"/>\n    </properties>\n";
}

std::string JUnitSuiteEnd() {
    return "  </testsuite>\n";
}

std::string JUnitClassName(const std::string& file) {
    std::string base =
        file.substr(file.find_last_of('/') == std::string::npos ? 0 : file.find_last_of('/') + 1);
    if (const size_t dot = base.find_last_of('.'); dot != std::string::npos && dot > 0)
        base.resize(dot);
    return base;
}

std::string JUnitCase(const CommandRecord& r, const std::string& className) {
    std::string caseName = "line " + std::to_string(r.line) + ": " + OneLine(FromUtf8OrLatin1(r.text));
    if (r.round > 1)
        caseName += " (round " + std::to_string(r.round) + ")";
    std::string xml = "    <testcase name=\"" + XmlEscape(caseName) + "\" classname=\"" +
                      XmlEscape(OneLine(FromUtf8OrLatin1(className))) + "\" time=\"" +
                      Seconds(r.result.roundTripUs) + "\"";
    if (r.passed)
        return xml + "/>\n";
    const char* type = r.result.outcome == session::SendOutcome::TimedOut ? "timeout" : "mismatch";
    xml += ">\n      <failure message=\"" + XmlEscape(r.message) + "\" type=\"" + type + "\">";
    xml +=
        XmlEscape("shown: " + ShownText(r.result) + "\nanswer bytes: " + session::HexBytes(r.result.answer));
    return xml + "</failure>\n    </testcase>\n";
}

std::string JUnitErrorCase(const std::string& name, const std::string& className, const std::string& message,
                           const std::string& type) {
    return "    <testcase name=\"" + XmlEscape(name) + "\" classname=\"" +
           XmlEscape(OneLine(FromUtf8OrLatin1(className))) +
           "\" time=\"0.000000\">\n      <error message=\"" + XmlEscape(message) + "\" type=\"" +
           XmlEscape(type) + "\"/>\n    </testcase>\n";
}

std::string CsvHeader(bool withTarget) {
    return std::string(withTarget ? "target," : "") + "round,line,command,link,outcome,passed,round_trip_ms,"
                                                      "status,caption,data,frame,answer,expect,message\r\n";
}

std::string CsvRow(const CommandRecord& r, const std::string& link, const std::string* target) {
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
    std::string csv = target ? session::CsvField(*target) + "," : "";
    bool first = true;
    for (const std::string& f : fields) {
        csv += (first ? "" : ",") + session::CsvField(f);
        first = false;
    }
    return csv + "\r\n";
}

} // namespace lumo_cli
