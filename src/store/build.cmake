# The store file is parsed with pugixml (libpugixml-dev).
find_package(pugixml REQUIRED)
target_link_libraries(rivulet_store PRIVATE pugixml::pugixml)
