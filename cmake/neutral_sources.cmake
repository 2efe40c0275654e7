# Code that needs no window and no Win32 call: built into setup_neutral for
# Windows and natively (with sanitizers) by native/CMakeLists.txt.
set(NEUTRAL_SOURCES
    app/text_util.cpp
    app/config_values.cpp
    app/work_paths.cpp
    app/drive_choice.cpp
    package/package_digest.cpp
    package/package_reader.cpp
    package/package_writer.cpp
    package/stream_inflater.cpp
    postinstall/folder_trust.cpp
    postinstall/output_recognition.cpp
    uninstall/uninstall_record.cpp)
