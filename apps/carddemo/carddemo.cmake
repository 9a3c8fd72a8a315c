# The card demo on the host, in its two revisions: the current one (the relocatable `main`
# module) and the earlier one that the `carddemo` image carries. Each revision's main is
# renamed to an entry of its own, and the earlier one's configuration words too, so that
# one program can hold both.
add_library(carddemo_app OBJECT ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_compile_definitions(carddemo_app PRIVATE main=carddemo_main)
add_library(carddemo_app_earlier OBJECT ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_compile_definitions(carddemo_app_earlier PRIVATE CARDDEMO_EARLIER_REVISION=1 main=carddemo_earlier_main
                                                        firmware_config_words=carddemo_earlier_config_words)
foreach(lib carddemo_app carddemo_app_earlier)
    target_link_libraries(${lib} PUBLIC drivers_carddemo)
endforeach()

# The demo on the virtual board: `carddemo` runs the earlier revision, `carddemo-main` the
# current one.
add_executable(carddemo ${CMAKE_SOURCE_DIR}/tools/carddemo.cpp)
target_compile_definitions(carddemo PRIVATE CARDDEMO_EARLIER_REVISION=1)
target_link_libraries(carddemo PRIVATE carddemo_app_earlier drivers_carddemo)
add_executable(carddemo-main ${CMAKE_SOURCE_DIR}/tools/carddemo.cpp)
target_link_libraries(carddemo-main PRIVATE carddemo_app drivers_carddemo)
