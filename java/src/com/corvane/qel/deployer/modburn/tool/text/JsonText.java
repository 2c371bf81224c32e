package com.corvane.qel.deployer.modburn.tool.text;

import com.fasterxml.jackson.core.JsonFactory;
import com.fasterxml.jackson.core.JsonGenerator;
import java.io.IOException;
import java.io.StringWriter;
import java.io.UncheckedIOException;
import java.util.List;
import java.util.function.UnaryOperator;

/** The JSON documents the tool writes: pretty-printed, ended by a line end. */
public final class JsonText {
    private JsonText() {
    }

    private static final JsonFactory FACTORY = new JsonFactory();

    /** What writes a document's values. */
    public interface Body {
        void write(JsonGenerator g) throws IOException;
    }

    /** The document the body writes. */
    public static String document(Body body) {
        StringWriter text = new StringWriter();
        try (JsonGenerator g = FACTORY.createGenerator(text)) {
            g.useDefaultPrettyPrinter();
            body.write(g);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        return text + "\n";
    }

    /** A field holding the texts, each as shown, as an array; null when there are none. */
    public static void texts(JsonGenerator g, String field, List<String> values, UnaryOperator<String> shown)
            throws IOException {
        g.writeFieldName(field);
        if (values.isEmpty()) {
            g.writeNull();
            return;
        }
        g.writeStartArray();
        for (String v : values) {
            g.writeString(shown.apply(v));
        }
        g.writeEndArray();
    }
}
