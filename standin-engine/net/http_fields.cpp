// Keep-alive as Beast reads and writes it.
#include "net/http_fields.h"



namespace standin::net {

bool keepsAlive(const http::fields &fields, unsigned version)
{
    const auto connection = findField(fields, http::field::connection);
    if (version < 11)
        return connection != fields.end() && http::token_list {connection->value()}.exists("keep-alive");
    return connection == fields.end() || !http::token_list {connection->value()}.exists("close");
}

void markKeepAlive(http::fields &fields, unsigned version, bool keep)
{
    if (version >= 11 && !keep)
        fields.insert(http::field::connection, "close");
    else if (version < 11 && keep)
        fields.insert(http::field::connection, "keep-alive");
}

} // namespace standin::net
