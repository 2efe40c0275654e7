# Code that needs no window and no Win32 call: built into setup_neutral for
# Windows and natively (with sanitizers) by native/CMakeLists.txt.
set(NEUTRAL_SOURCES
    core/text_util.cpp
    core/config_values.cpp
    core/work_paths.cpp
    core/drive_choice.cpp
    package/crc32_fold.cpp
    package/package_digest.cpp
    package/package_reader.cpp
    package/package_writer.cpp
    package/program_image.cpp
    package/stream_inflater.cpp
    install/folder_trust.cpp
    install/output_recognition.cpp
    record/uninstall_record.cpp
    wizard/picture_scaling.cpp)
