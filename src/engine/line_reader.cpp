// Splits a byte stream that arrives in arbitrary chunks into whole lines.
#include "engine/line_reader.h"

QByteArray LineReader::takeRemainder()
{
    QByteArray rest = std::move(m_buffer);
    m_buffer.clear();
    m_scanFrom = 0;
    return rest;
}

void LineReader::clear()
{
    m_buffer.clear();
    m_scanFrom = 0;
}
