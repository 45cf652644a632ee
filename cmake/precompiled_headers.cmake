# Precompiled headers: the large outside headers (Qt, GoogleTest, nlohmann/json, Boost.Beast/Asio) are
# parsed once per library or test program instead of once per file.

set(KESTRION_PCH_STD <algorithm> <functional> <map> <memory> <optional> <string> <string_view> <vector>)
set(KESTRION_PCH_JSON <nlohmann/json.hpp>)
set(KESTRION_PCH_ASIO <boost/asio.hpp> <boost/asio/ssl.hpp> <boost/beast/core.hpp> <boost/beast/http.hpp>
    <boost/beast/ssl.hpp>)
set(KESTRION_PCH_QT_CORE <QObject> <QString> <QStringList> <QList> <QPointer> <QTimer> <QVariant>)
set(KESTRION_PCH_QT ${KESTRION_PCH_QT_CORE} <QWidget> <QPainter> <QPainterPath> <QVBoxLayout> <QHBoxLayout> <QColor> <QMouseEvent> <QFontMetrics> <QLabel>
    <QLineEdit> <QScrollArea> <QVariantAnimation>)
set(KESTRION_PCH_QT_TEST <QApplication> <QTest> <QSignalSpy> <QTemporaryDir> <QImage> <QFile> <QDir>)
set(KESTRION_PCH_GTEST <gtest/gtest.h>)

# kestrion_precompile_headers(<target> <set>...): precompiles the named header sets above for one target.
# The fuzz tree (clang) goes without: there the stand-in's coroutine files take other sanitizer options
# than the rest of their library, which one precompiled header per target cannot serve.
function(kestrion_precompile_headers target)
    if(KESTRION_FUZZ)
        return()
    endif()
    set(headers)
    foreach(set IN LISTS ARGN)
        list(APPEND headers ${KESTRION_PCH_${set}})
    endforeach()
    target_precompile_headers(${target} PRIVATE ${headers})
endfunction()

# The libraries, once every folder has been added: the Qt-free ones get no Qt headers.
function(kestrion_precompile_library_headers)
    kestrion_precompile_headers(kestrion_records STD JSON)
    kestrion_precompile_headers(kestrion_standin STD JSON ASIO)
    foreach(target kestrion_platform_core kestrion_engine)
        kestrion_precompile_headers(${target} STD JSON QT_CORE)
    endforeach()
    foreach(target kestrion_platform_gui kestrion_design kestrion_app
                   kestrion_screens_routes kestrion_screens_traffic kestrion_screens_setup kestrion_snapshot)
        kestrion_precompile_headers(${target} STD JSON QT)
    endforeach()
endfunction()
