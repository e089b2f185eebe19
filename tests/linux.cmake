# The Linux front end's tests: its pure pieces join the unit tests; udev under
# umockdev and the vane-upgrade command end to end (with --emulate) are
# programs and scripts of their own, labelled "linux".
if(NOT TARGET vane_upgrade_front_end)
  return()
endif()

target_link_libraries(vane_unit_tests PRIVATE vane_upgrade_front_end "$<LINK_GROUP:RESCAN,vane_core,vane_headless>")
