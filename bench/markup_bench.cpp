// Building the KML document of a track-log read-out with the XML document
// class: the style and route head, then one waypoint element group per
// record, in the order the track-log page adds them. Reported per document;
// the record count is the argument.
#include <benchmark/benchmark.h>

#include <string>

#include "support/Markup.h"

namespace {

std::string BuildKml(int records) {
    CMarkup xml;
    xml.AddElement("kml");
    xml.AddAttribute("xmlns", "http://earth.google.com/kml/2.1");
    xml.AddChildElement("Document");
    xml.EnterElement();
    xml.AddChildElement("Style");
    xml.EnterElement();
    xml.AddAttribute("id", "roadStyle");
    xml.AddChildElement("LineStyle");
    xml.EnterElement();
    xml.AddChildElement("color", "7fcf0064");
    xml.AddChildElement("width", "6");
    xml.LeaveElement();
    xml.LeaveElement();
    xml.AddChildElement("Open", "1");
    xml.AddChildElement("description", "Track Log");
    xml.AddChildElement("name", "Track Log");
    xml.AddChildElement("Placemark");
    xml.EnterElement();
    xml.AddChildElement("name", "Route");
    xml.AddChildElement("styleUrl", "#roadStyle");
    xml.AddChildElement("MultiGeometry");
    xml.EnterElement();
    xml.AddChildElement("LineString");
    xml.EnterElement();
    std::string route;
    for (int i = 0; i < records; ++i) {
        route += "121.5000000,24.7500000,127.50 ";
    }
    xml.AddChildElement("coordinates", route);
    xml.LeaveElement();
    xml.LeaveElement();
    xml.LeaveElement();
    xml.AddChildElement("Folder");
    xml.EnterElement();
    xml.AddChildElement("name", "Waypoints");
    for (int i = 0; i < records; ++i) {
        xml.AddChildElement("Placemark");
        xml.EnterElement();
        xml.AddChildElement("name", "Mon Dec 11 12:00:00 2006\n");
        xml.AddChildElement("styleUrl", "root://styleMaps#default+nicon=0x406+hicon=0x416");
        xml.AddChildElement("Point");
        xml.EnterElement();
        xml.AddChildElement("coordinates", "121.5000000,24.7500000,127.50");
        xml.LeaveElement();
        xml.LeaveElement();
    }
    return xml.GetDocument();
}

void BM_BuildKml(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string document = BuildKml(records);
        bytes = document.size();
        benchmark::DoNotOptimize(document.data());
    }
    state.counters["document_bytes"] = static_cast<double>(bytes);
    state.counters["elements"] = static_cast<double>(records * 5 + 17);
}
BENCHMARK(BM_BuildKml)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
