// The station's view of one phone: lines, progress, steps, the phone's version.
#include "station/station_view.h"

#include <utility>

#include "download/message_output.h"
#include "download/notice_texts.h"

Station_View::Station_View(Language language, Handlers handlers)
    : m_language(language), m_handlers(std::move(handlers)) {}

void Station_View::On_Event(const report::Update_Event& event) {
    using Kind = report::Update_Event::Kind;
    switch (event.kind) {
        case Kind::kNotice:
            if (m_handlers.line)
                m_handlers.line(event.notice, text::Notice_Single_Line(event.notice, m_language));
            return;
        case Kind::kPhoneVersion:
        case Kind::kPhoneVersionFromDump:
            m_phone_version = Version_Field_Text(event.bytes);
            m_phone_record = event.bytes;
            return;
        case Kind::kRecordWritten:
            m_record_written = event.bytes;
            return;
        case Kind::kFailure:
            m_hung_up = m_hung_up || event.end == Io_End::kHungUp;
            return;
        case Kind::kStepBegan:
            if (m_handlers.step)
                m_handlers.step(event.step);
            return;
        default:
            return;
    }
}

void Station_View::On_Bytes(std::uint64_t done, std::uint64_t total) {
    m_bytes_done = done;
    if (m_handlers.progress)
        m_handlers.progress(done, total);
}
