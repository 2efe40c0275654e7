# The post-install flow test registers the network database service and puts
# links in the prefix's shared Start menu, desktop and Quick Launch, as the
# end-to-end and service tests do: never alongside them.
set_tests_properties(PostInstallFlowTest.EveryShortcutSettingOnWithBothSidesAndBothSetupRuns
    PROPERTIES RUN_SERIAL TRUE)
# These register (or must find no) network database service.
set_tests_properties(ProtectedFolderTest.PlantedDatabaseProgramOfAStandardUserIsNeverStarted
    ProtectedFolderTest.PlantedProgramsOfAdministratorsAndTheInstallerRunAsBefore
    PROPERTIES RUN_SERIAL TRUE)
