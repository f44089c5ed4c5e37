<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8"/>
  <xsl:template match="Diapositive">
    <html>
      <head>
        <meta charset="utf-8"/>
        <link rel="stylesheet" href="photo.css"/>
      </head>
      <body>
        <img src="media/{image/@id}" alt="{Caption}"/>
        <div class="caption"><xsl:value-of select="Caption"/></div>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>
