# The tests call the builder's library and run setup-pack.exe.
target_link_libraries(${area}_tests PRIVATE setup_pack_lib)
add_dependencies(${area}_tests setup-pack)
# The header checksum is compared with the system's own computation.
target_link_libraries(${area}_tests PRIVATE imagehlp)
# Signed programs come from the signing fixture (tests/e2e/test_properties.cmake).
set_tests_properties(
    SetupPackIntegrity.SignedProgramIsVerifiedInspectedAndExtracted
    SetupPackIntegrity.SignedTemplateGivesAnUnsignedProgramWithASoundChecksum
    SetupPackIntegrity.VerifySaysWhetherTheSignatureCoversTheFile
    PROPERTIES FIXTURES_REQUIRED signed_programs)
# The release signed with a key on a token (tests/e2e/token_signing_fixture.sh).
set_tests_properties(
    SignedRelease.SetupAndTheUninstallerItInstallsAreSignedByTheTokenCertificate
    SignedRelease.InspectShowsTheTimeStamp
    PROPERTIES FIXTURES_REQUIRED token_signed)
