// The error log file, byte by byte: sizes, field offsets and widths, labels, and the small pure
// codecs that read and write its fields. The module and the errlog tool both use this header;
// nothing here touches a file or the task's state.
//
// A log file is one 373-byte header record followed by 25 error records of 619 bytes each,
// 15848 bytes in all. Every line ends in CR LF; every field sits at a fixed offset. A label
// fills a 25-byte field (text, then blanks) and the line's value follows it directly. Numbers
// are zero-padded decimal digits of a fixed width; texts are blank-padded and never hold a NUL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace err {

// ---- Sizes ---------------------------------------------------------------------------------
constexpr std::size_t LOG_HEADER_SIZE = 373;
constexpr std::size_t LOG_RECORD_SIZE = 619;
constexpr std::size_t LOG_RECORD_COUNT = 25;
constexpr std::size_t LOG_FILE_SIZE = LOG_HEADER_SIZE + LOG_RECORD_COUNT * LOG_RECORD_SIZE;
static_assert(LOG_FILE_SIZE == 15848, "a log file is 15848 bytes");

namespace logfmt {

constexpr std::size_t kLabelWidth = 25;
constexpr std::size_t kBorderWidth = 80;
constexpr std::size_t kEolWidth = 2;  // CR LF
constexpr char kHeaderBorderChar = '!';
constexpr char kRecordBorderChar = '+';
constexpr std::uint8_t kCR = 13;
constexpr std::uint8_t kLF = 10;

// Widths of the value kinds.
constexpr std::size_t kRecordNumberWidth = 3;  // record numbers and counts
constexpr std::size_t kCodeWidth = 5;          // error code
constexpr std::size_t kLengthWidth = 5;        // log_file_length

// ---- Header record (offsets from byte 0 of the file) ----
constexpr std::size_t kHdrTopBorder = 0;
constexpr std::size_t kHdrTitleLabel = 82;  // "Header Record", no value
constexpr std::size_t kHdrStartLabel = 109;
constexpr std::size_t kHdrErrorStart = 134;  // error_start_record: newest error, 0 = none
constexpr std::size_t kHdrEndLabel = 139;
constexpr std::size_t kHdrErrorEnd = 164;  // error_end_record: oldest error, 0 = none
constexpr std::size_t kHdrNewLabel = 169;
constexpr std::size_t kHdrNewRecords = 194;  // new_records
constexpr std::size_t kHdrOverflowLabel = 199;
constexpr std::size_t kHdrOverflow = 224;  // overflow_record, 0 = none
constexpr std::size_t kHdrEmptyLabel = 229;
constexpr std::size_t kHdrEmpty = 254;  // empty_record: head of the free chain, 0 = none
constexpr std::size_t kHdrLengthLabel = 259;
constexpr std::size_t kHdrLength = 284;  // log_file_length, 5 digits, always 15848
constexpr std::size_t kHdrBottomBorder = 291;

constexpr const char* kLabelHeaderTitle = "Header Record";
constexpr const char* kLabelErrorStart = "Error Start Record:";
constexpr const char* kLabelErrorEnd = "Error End Record:";
constexpr const char* kLabelNewRecords = "Number of new Records:";
constexpr const char* kLabelOverflow = "Overflow Record:";
constexpr const char* kLabelEmpty = "Empty Record:";
constexpr const char* kLabelLength = "Log File Length:";

// ---- Error record (offsets from the start of the record) ----
constexpr std::size_t kRecTopBorder = 0;
constexpr std::size_t kRecNrLabel = 82;
constexpr std::size_t kRecNr = 107;  // record_nr, 3 digits: the record's own number
constexpr std::size_t kRecStateLabel = 112;
constexpr std::size_t kRecState = 137;  // record_state, 1 byte: 'E' free, 'V' holds an error
constexpr std::size_t kRecPreviousLabel = 140;
constexpr std::size_t kRecPrevious = 165;  // previous_record, 3 digits
constexpr std::size_t kRecNextLabel = 170;
constexpr std::size_t kRecNext = 195;  // next_record, 3 digits
constexpr std::size_t kRecCodeLabel = 200;
constexpr std::size_t kRecCode = 225;  // error_code, 5 digits
constexpr std::size_t kRecText = 232;  // error_text, 80 bytes, no label
constexpr std::size_t kRecComponentLabel = 314;
constexpr std::size_t kRecComponent = 339;  // component, 15 bytes
constexpr std::size_t kRecDateLabel = 356;
constexpr std::size_t kRecDate = 381;  // record_date, "DD.MMM.YY"
constexpr std::size_t kRecTimeLabel = 392;
constexpr std::size_t kRecTime = 417;  // record_time, "HH:MM:SS"
constexpr std::size_t kRecFileLabel = 427;
constexpr std::size_t kRecFile = 452;  // source_file, 50 bytes
constexpr std::size_t kRecLineLabel = 504;
constexpr std::size_t kRecLine = 529;  // source_line, 6 bytes, "%d" left-aligned
constexpr std::size_t kRecBottomBorder = 537;

constexpr std::size_t kStateWidth = 1;
constexpr std::size_t kTextWidth = 80;
constexpr std::size_t kComponentWidth = 15;
constexpr std::size_t kDateWidth = 9;
constexpr std::size_t kTimeWidth = 8;
constexpr std::size_t kFileWidth = 50;
constexpr std::size_t kLineWidth = 6;

constexpr const char* kLabelRecordNr = "Error Record Nr.:";
constexpr const char* kLabelState = "Record State:";
constexpr const char* kLabelPrevious = "Previous Record:";
constexpr const char* kLabelNext = "Next Record:";
constexpr const char* kLabelCode = "Error Code:";
constexpr const char* kLabelComponent = "Component:";
constexpr const char* kLabelDate = "Date:";
constexpr const char* kLabelTime = "TIME:";
constexpr const char* kLabelFile = "File:";
constexpr const char* kLabelLine = "Line:";

constexpr char kStateFree = 'E';
constexpr char kStateUsed = 'V';

// Contents of a newly created record.
constexpr char kNewTextChar = 'x';
constexpr char kNewComponentChar = '*';
constexpr const char* kNewDate = "DD.MMM.YY";
constexpr const char* kNewTime = "HH:MM:SS";
constexpr const char* kNoSourceFile = "-";
constexpr const char* kNoSourceLine = "-";

constexpr const char* kOverflowText = "MESSAGE BUFFER OVERFLOW";

// One line of a record: an optional label at label_offset, then a value field of value_width
// bytes at value_offset (the value follows the label field directly), then CR LF. Borders are
// lines of 80 border characters with no label and no value.
struct LogLine {
    const char* label;  // null: no label on this line
    std::size_t label_offset;
    std::size_t value_offset;
    std::size_t value_width;
};

inline constexpr LogLine kHeaderLines[] = {
    {kLabelHeaderTitle, kHdrTitleLabel, kHdrTitleLabel + kLabelWidth, 0},
    {kLabelErrorStart, kHdrStartLabel, kHdrErrorStart, kRecordNumberWidth},
    {kLabelErrorEnd, kHdrEndLabel, kHdrErrorEnd, kRecordNumberWidth},
    {kLabelNewRecords, kHdrNewLabel, kHdrNewRecords, kRecordNumberWidth},
    {kLabelOverflow, kHdrOverflowLabel, kHdrOverflow, kRecordNumberWidth},
    {kLabelEmpty, kHdrEmptyLabel, kHdrEmpty, kRecordNumberWidth},
    {kLabelLength, kHdrLengthLabel, kHdrLength, kLengthWidth},
};

inline constexpr LogLine kRecordLines[] = {
    {kLabelRecordNr, kRecNrLabel, kRecNr, kRecordNumberWidth},
    {kLabelState, kRecStateLabel, kRecState, kStateWidth},
    {kLabelPrevious, kRecPreviousLabel, kRecPrevious, kRecordNumberWidth},
    {kLabelNext, kRecNextLabel, kRecNext, kRecordNumberWidth},
    {kLabelCode, kRecCodeLabel, kRecCode, kCodeWidth},
    {nullptr, kRecText, kRecText, kTextWidth},
    {kLabelComponent, kRecComponentLabel, kRecComponent, kComponentWidth},
    {kLabelDate, kRecDateLabel, kRecDate, kDateWidth},
    {kLabelTime, kRecTimeLabel, kRecTime, kTimeWidth},
    {kLabelFile, kRecFileLabel, kRecFile, kFileWidth},
    {kLabelLine, kRecLineLabel, kRecLine, kLineWidth},
};

// The lines must tile the record: top border, the lines one after the other, bottom border.
template <std::size_t N>
constexpr bool lines_tile(const LogLine (&lines)[N], std::size_t bottom_border,
                          std::size_t record_size) {
    std::size_t at = kBorderWidth + kEolWidth;
    for (const LogLine& line : lines) {
        if (line.label_offset != at) return false;
        if (line.label && line.value_offset != line.label_offset + kLabelWidth) return false;
        at = line.value_offset + line.value_width + kEolWidth;
    }
    return at == bottom_border && bottom_border + kBorderWidth + kEolWidth == record_size;
}
static_assert(lines_tile(kHeaderLines, kHdrBottomBorder, LOG_HEADER_SIZE));
static_assert(lines_tile(kRecordLines, kRecBottomBorder, LOG_RECORD_SIZE));

inline constexpr const char* kMonthNames[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// ---- Codecs --------------------------------------------------------------------------------

// Record numbers run from 1 to 25; 0 stands for no record.
constexpr bool is_record_number(std::uint32_t n) {
    return n >= 1 && n <= LOG_RECORD_COUNT;
}

// File offset of record n (1 to 25): 373 + (n - 1) * 619.
constexpr std::size_t record_offset(std::uint16_t n) {
    return LOG_HEADER_SIZE + (static_cast<std::size_t>(n) - 1) * LOG_RECORD_SIZE;
}

// The value of a number field: its leading decimal digits, never read past the field's width
// (in a valid file the field is followed by CR, so exactly its digits are read). No digit: 0.
inline std::uint32_t read_number(const std::uint8_t* field, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width && field[i] >= '0' && field[i] <= '9'; ++i)
        value = value * 10 + static_cast<std::uint32_t>(field[i] - '0');
    return value;
}

// Copies text into a field of width bytes, cut at the width, the rest blanks; no NUL.
inline void encode_text(std::uint8_t* dest, std::size_t width, const char* text) {
    std::size_t len = text ? std::strlen(text) : 0;
    std::size_t n = len < width ? len : width;
    if (n) std::memcpy(dest, text, n);
    if (width > n) std::memset(dest + n, ' ', width - n);
}

// Writes value zero-padded to width digits ("%0*.*d"); widths of 6 or more write 5 digits
// (a 16-bit value never needs more). A value with more digits than the width keeps its
// leading digits. No NUL.
// The last width digits of v, zero-padded, from dest on (the width known at compile time, so
// that each digit is a multiplication rather than a loop).
template <std::size_t Width>
inline void put_digits(std::uint8_t* dest, unsigned v) {
    for (std::size_t i = Width; i-- > 0; v /= 10) dest[i] = static_cast<std::uint8_t>('0' + v % 10);
}

inline void encode_number(std::uint8_t* dest, std::size_t width, std::uint16_t value) {
    if (width >= 6) width = 5;
    // The digits of "%.*d" with the width as precision, written by hand: the log operations
    // write several numbers per record, and a formatted print costs far more than the digits.
    constexpr unsigned kLimit[6] = {1, 10, 100, 1000, 10000, 100000};
    unsigned v = value;
    // A value with more digits than the width keeps its leading digits: drop the others.
    while (v >= kLimit[width]) v /= 10;
    switch (width) {
        case 1:
            put_digits<1>(dest, v);
            break;
        case 2:
            put_digits<2>(dest, v);
            break;
        case 3:
            put_digits<3>(dest, v);
            break;
        case 4:
            put_digits<4>(dest, v);
            break;
        case 5:
            put_digits<5>(dest, v);
            break;
        default:  // width 0: nothing
            break;
    }
}

// The text of "%d" for value into out (at least 12 bytes), zero-terminated: a minus sign when
// negative, no leading zeros. Written by hand: every archived record carries its source line.
inline void decimal_text(std::int32_t value, char* out) {
    // The magnitude as unsigned, so that the most negative value has one too.
    std::uint32_t v =
        value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    char digits[10];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);  // lowest digit first
        v /= 10;
    } while (v != 0);
    if (value < 0) *out++ = '-';
    while (n > 0) *out++ = digits[--n];
    *out = '\0';
}

// Number of characters up to the last one that is not a blank; 0 for an all-blank field.
inline std::size_t trimmed_width(const std::uint8_t* field, std::size_t width) {
    while (width > 0 && field[width - 1] == ' ') --width;
    return width;
}

// Two digits of a value from 0 to 99 at out; false (nothing written) for any other value.
inline bool two_digits(int value, char* out) {
    if (value < 0 || value > 99) return false;
    out[0] = static_cast<char>('0' + value / 10);
    out[1] = static_cast<char>('0' + value % 10);
    return true;
}

// "DD.MMM.YY" and "HH:MM:SS" of a broken-down local time, into buffers of at least 12 bytes.
// Values of two digits are written by hand (each record gets a stamp); anything else goes
// through the formatted print, which gives the same text.
inline void format_date(const std::tm& t, char* out, std::size_t size) {
    int month = t.tm_mon >= 0 && t.tm_mon < 12 ? t.tm_mon : 0;
    int year = t.tm_year % 100;
    if (year < 0) year += 100;
    if (size >= 10 && two_digits(t.tm_mday, out) && two_digits(year, out + 7)) {
        out[2] = '.';
        std::memcpy(out + 3, kMonthNames[month], 3);
        out[6] = '.';
        out[9] = '\0';
        return;
    }
    std::snprintf(out, size, "%02d.%s.%02d", t.tm_mday, kMonthNames[month], year);
}
inline void format_time(const std::tm& t, char* out, std::size_t size) {
    if (size >= 9 && two_digits(t.tm_hour, out) && two_digits(t.tm_min, out + 3) &&
        two_digits(t.tm_sec, out + 6)) {
        out[2] = ':';
        out[5] = ':';
        out[8] = '\0';
        return;
    }
    std::snprintf(out, size, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
}

// The header record of a newly created file: borders, labels, CR LF, '0' digits in every
// value field, then empty_record (1 in a new file) in its field. The length field stays
// 00000 until the file's real length is known.
inline void build_new_header(std::uint8_t* h, std::uint16_t empty_record) {
    std::memset(h + kHdrTopBorder, kHeaderBorderChar, kBorderWidth);
    h[kBorderWidth] = kCR;
    h[kBorderWidth + 1] = kLF;
    for (const LogLine& line : kHeaderLines) {
        encode_text(h + line.label_offset, kLabelWidth, line.label);
        std::memset(h + line.value_offset, '0', line.value_width);
        h[line.value_offset + line.value_width] = kCR;
        h[line.value_offset + line.value_width + 1] = kLF;
    }
    std::memset(h + kHdrBottomBorder, kHeaderBorderChar, kBorderWidth);
    h[kHdrBottomBorder + kBorderWidth] = kCR;
    h[kHdrBottomBorder + kBorderWidth + 1] = kLF;
    encode_number(h + kHdrEmpty, kRecordNumberWidth, empty_record);
}

// An error record as in a newly created file, with '0' digits in record_nr, previous_record,
// next_record and error_code (the caller puts the numbers in).
inline void build_new_record(std::uint8_t* r) {
    std::memset(r + kRecTopBorder, kRecordBorderChar, kBorderWidth);
    r[kBorderWidth] = kCR;
    r[kBorderWidth + 1] = kLF;
    for (const LogLine& line : kRecordLines) {
        if (line.label) encode_text(r + line.label_offset, kLabelWidth, line.label);
        r[line.value_offset + line.value_width] = kCR;
        r[line.value_offset + line.value_width + 1] = kLF;
    }
    std::memset(r + kRecNr, '0', kRecordNumberWidth);
    r[kRecState] = kStateFree;
    std::memset(r + kRecPrevious, '0', kRecordNumberWidth);
    std::memset(r + kRecNext, '0', kRecordNumberWidth);
    std::memset(r + kRecCode, '0', kCodeWidth);
    std::memset(r + kRecText, kNewTextChar, kTextWidth);
    std::memset(r + kRecComponent, kNewComponentChar, kComponentWidth);
    encode_text(r + kRecDate, kDateWidth, kNewDate);
    encode_text(r + kRecTime, kTimeWidth, kNewTime);
    encode_text(r + kRecFile, kFileWidth, kNoSourceFile);
    encode_text(r + kRecLine, kLineWidth, kNoSourceLine);
    std::memset(r + kRecBottomBorder, kRecordBorderChar, kBorderWidth);
    r[kRecBottomBorder + kBorderWidth] = kCR;
    r[kRecBottomBorder + kBorderWidth + 1] = kLF;
}

// Field accessors of a record buffer (LOG_RECORD_SIZE bytes).
inline std::uint16_t record_nr(const std::uint8_t* r) {
    return static_cast<std::uint16_t>(read_number(r + kRecNr, kRecordNumberWidth));
}
inline std::uint16_t previous_of(const std::uint8_t* r) {
    return static_cast<std::uint16_t>(read_number(r + kRecPrevious, kRecordNumberWidth));
}
inline std::uint16_t next_of(const std::uint8_t* r) {
    return static_cast<std::uint16_t>(read_number(r + kRecNext, kRecordNumberWidth));
}
// A header link field (kHdrErrorStart ... kHdrEmpty) of a header buffer.
inline std::uint16_t header_link(const std::uint8_t* h, std::size_t offset) {
    return static_cast<std::uint16_t>(read_number(h + offset, kRecordNumberWidth));
}

// ---- Archive file (export) ----
// The lines of the archive file, shared by the error task's export and the errlog tool. Each
// formats into out (size bytes) with snprintf and returns what snprintf returns: the caller
// writes the n bytes when 0 <= n < size. kArchiveLineMax holds any of them.
inline constexpr std::size_t kArchiveLineMax = 512;

inline int format_archive_head(char* out, std::size_t size, int count, int new_records,
                               bool overflow) {
    return std::snprintf(out, size, "%.*d\r\n%d\r\n%s\r\n", 3, count, new_records,
                         overflow ? "O" : "N");
}
inline int format_archive_count(char* out, std::size_t size, int count) {
    return std::snprintf(out, size, "%.*d\r\n", 3, count);
}
// Text put together piece by piece into out (size bytes) as snprintf would: what fits before the
// last byte is copied, a NUL ends it, and the length of the whole text is counted all the same.
// The entries are built this way (a formatted print of seven fields per entry cost most of an
// export), byte for byte as their formats below print them.
class ArchiveLine {
  public:
    ArchiveLine(char* out, std::size_t size) : out_(out), size_(size) {}
    ArchiveLine& text(const char* p, std::size_t n) {
        if (size_ > 0 && used_ < size_ - 1) {
            const std::size_t room = size_ - 1 - used_;
            std::memcpy(out_ + used_, p, n < room ? n : room);
        }
        used_ += n;
        return *this;
    }
    ArchiveLine& text(const char* p) { return text(p, std::strlen(p)); }
    // "%.*s": at most width bytes of a field, ending early at a NUL.
    ArchiveLine& field(const std::uint8_t* p, std::size_t width) {
        const char* c = reinterpret_cast<const char*>(p);
        return text(c, strnlen(c, width));
    }
    // "%d"
    ArchiveLine& number(int value) {
        char digits[12];
        decimal_text(value, digits);
        return text(digits);
    }
    int end() {
        if (size_ > 0) out_[used_ < size_ - 1 ? used_ : size_ - 1] = '\0';
        return static_cast<int>(used_);
    }

  private:
    char* out_;
    std::size_t size_;
    std::size_t used_ = 0;
};

// The overflow entry of record r (number nr): number, empty line, text, "$$$", empty line,
// date, time. As "%d\r\n\r\n%.*s\r\n$$$\r\n\r\n%.*s\r\n%.*s\r\n" prints it.
inline int format_overflow_entry(char* out, std::size_t size, int nr, const std::uint8_t* r) {
    return ArchiveLine(out, size)
        .number(nr)
        .text("\r\n\r\n")
        .field(r + kRecText, trimmed_width(r + kRecText, kTextWidth))
        .text("\r\n$$$\r\n\r\n")
        .field(r + kRecDate, kDateWidth)
        .text("\r\n")
        .field(r + kRecTime, kTimeWidth)
        .text("\r\n")
        .end();
}
// The entry of error record r (number nr): number, code, text, "$$$", component, date, time.
// As "%d\r\n%.*s\r\n%.*s\r\n$$$\r\n%.*s\r\n%.*s\r\n%.*s\r\n" prints it.
inline int format_record_entry(char* out, std::size_t size, int nr, const std::uint8_t* r) {
    return ArchiveLine(out, size)
        .number(nr)
        .text("\r\n")
        .field(r + kRecCode, kCodeWidth)
        .text("\r\n")
        .field(r + kRecText, trimmed_width(r + kRecText, kTextWidth))
        .text("\r\n$$$\r\n")
        .field(r + kRecComponent, trimmed_width(r + kRecComponent, kComponentWidth))
        .text("\r\n")
        .field(r + kRecDate, kDateWidth)
        .text("\r\n")
        .field(r + kRecTime, kTimeWidth)
        .text("\r\n")
        .end();
}

}  // namespace logfmt
}  // namespace err
