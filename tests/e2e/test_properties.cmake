# The end-to-end tests drive the real program on one display, one prefix and
# one install folder: one at a time.
target_link_libraries(${area}_tests PRIVATE wizard_driver_lib)
add_dependencies(${area}_tests wizard-driver)
set_tests_properties(${${area}_test_list} PROPERTIES RUN_SERIAL TRUE TIMEOUT 240)

# A throwaway certificate and the sample program and the bare setup.exe signed
# with it; shown as skipped where openssl or osslsigncode is missing, and the
# tests that need its files then skip themselves.
add_test(NAME SigningFixture.SignsTheSampleAndTheBareProgram
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/signing_fixture.sh ${CMAKE_BINARY_DIR}/bin
        ${CMAKE_BINARY_DIR}/testrun/signing ${CMAKE_SOURCE_DIR})
set_tests_properties(SigningFixture.SignsTheSampleAndTheBareProgram PROPERTIES
    FIXTURES_SETUP signed_programs SKIP_RETURN_CODE 77 TIMEOUT 120)
set_tests_properties(IntegrityInstallTest.SignedSampleProgramInstallsThroughTheWizard
    PROPERTIES FIXTURES_REQUIRED signed_programs)

# The page layout test again with the prefix at 144 and 192 DPI (put back to
# what it was afterwards, which restarts the prefix's wineserver).
foreach(dpi 144 192)
    set(name PageLayoutTest.EveryPageFitsAt${dpi}Dpi)
    add_test(NAME ${name}
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/at_dpi.sh ${dpi} ${CMAKE_BINARY_DIR}
            $<TARGET_FILE:${area}_tests> --gtest_filter=PageLayoutTest.EveryPageFitsAtTheScreenDpi
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/testrun)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE TIMEOUT 300
        SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
endforeach()

# A SoftHSM2 token of the fixture's own holding the key, and the sample program
# signed with it through ./build.sh pack sign (its uninstaller too); skipped
# where SoftHSM2, the OpenSSL PKCS#11 engine or osslsigncode is missing.
add_test(NAME TokenSigningFixture.SignsTheSampleAndItsUninstallerWithATokenKey
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/token_signing_fixture.sh ${CMAKE_BINARY_DIR}
        ${CMAKE_BINARY_DIR}/testrun/token-signing ${CMAKE_SOURCE_DIR})
set_tests_properties(TokenSigningFixture.SignsTheSampleAndItsUninstallerWithATokenKey PROPERTIES
    FIXTURES_SETUP token_signed SKIP_RETURN_CODE 77 TIMEOUT 300 RUN_SERIAL TRUE)
