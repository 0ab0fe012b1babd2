# The monitor's metrics and their HTTP endpoint (included from src/app/CMakeLists.txt).
add_library(orvane_metrics STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Metrics.h ${CMAKE_CURRENT_LIST_DIR}/Metrics.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MetricsText.h ${CMAKE_CURRENT_LIST_DIR}/MetricsText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MonitorMetrics.h ${CMAKE_CURRENT_LIST_DIR}/MonitorMetrics.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MonitorHealth.h ${CMAKE_CURRENT_LIST_DIR}/MonitorHealth.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HttpRequest.h ${CMAKE_CURRENT_LIST_DIR}/HttpRequest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MetricsServer.h ${CMAKE_CURRENT_LIST_DIR}/MetricsServer.cpp
)
set_target_properties(orvane_metrics PROPERTIES AUTOMOC ON)
target_link_libraries(orvane_metrics PUBLIC orvane_core Qt6::Network PRIVATE orvane_paging orvane_users)
